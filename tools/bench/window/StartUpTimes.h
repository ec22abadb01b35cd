#pragma once

#include <QString>

// One start of the main window over a listing of `keys` keys, timed from the start of the window's
// construction: constructed, shown, first painted (visible), the start-up tick (the sign-in check
// starts), the listing started (the grid emptied), the grid full (rows == keys) and painted full.
// Then, for comparison, the headless fill of the same listing into a table of its own. Prints:
//   start-up keys=<n> app_s=<QApplication made, from main> constructed_s=.. shown_s=.. visible_s=..
//     tick_s=.. listing_s=.. full_s=.. full_painted_s=.. headless_fill_s=..
// Throws TError when the window shows an error or a dialog, or the grid does not fill.
void StartUpTimes(quint16 accountPort, quint16 listingPort, int keys, const QString& workFolder,
                  double appSeconds);
