#pragma once

#include "catalogue/CatalogueRecords.h"
#include "catalogue/LikePattern.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

enum class TCatalogueField { Name, LastModified, Size, Path, Size_mb, LastModified_datatime };

// One backup as the catalogue receives and hands it out. The table stores the text fields as narrow
// text of limited width (see NarrowText.h), so what comes back may be cut.
struct TCatalogueRecord {
    QString Name;
    QString LastModified;
    qint64 Size = 0;
    QString Path;
    qint64 Size_mb = 0;
    QDateTime LastModified_datatime;
};

// The in-memory backup catalogue behind the grid: records in the order they were appended, a
// current record, and a filter that decides which records are shown. Rows of the model are the
// shown records. There is a current record exactly when at least one record is shown.
class TCatalogueTable : public QAbstractTableModel {
    Q_OBJECT

  public:
    static constexpr qsizetype TextFieldWidth = 255;
    static constexpr qsizetype PathFieldWidth = 2048;
    enum TColumn { NameColumn, SizeMbColumn, LastModifiedColumn, ColumnCount };

    explicit TCatalogueTable(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Removes every record; the filter stays in force.
    void Empty();
    // Replaces every record with those of a listing read away from the window (ListCatalogue). The
    // filter in force stays in force and the first shown record becomes current.
    void TakeRecords(TCatalogueRecords records);
    // Adds a record at the end; it becomes current when it is the only one shown.
    void Append(const TCatalogueRecord& record);
    // The same for a record whose text is UTF-8 already, as the fill reads it from a listing.
    void AppendNarrow(const TNarrowRecord& record);
    // Makes the first shown record current.
    void MoveToFirst();
    bool HasNoCurrentRecord() const;
    // Row of the current record among the shown ones, -1 when there is none.
    int CurrentRow() const { return FCurrentRow; }
    // Follows the grid's selection; a row outside the shown ones leaves the current record as it is.
    void SetCurrentRow(int row);
    // A field of the current record as text; empty text when there is no current record.
    QString FieldAsText(TCatalogueField field) const;
    // Removes the current record; the next shown record (or else the previous one) becomes current.
    void RemoveCurrentRecord();

    // The shown record at row; every record, shown or not, counts in RecordCount.
    TCatalogueRecord RecordAt(int row) const;
    int RecordCount() const { return static_cast<int>(FRecords.Count()); }

    // While suspended the view hears of no change; the outermost ResumeView refreshes it once.
    void SuspendView();
    void ResumeView();
    class TViewSuspension {
      public:
        explicit TViewSuspension(TCatalogueTable& table)
            : FTable(table) {
            FTable.SuspendView();
        }
        ~TViewSuspension() { FTable.ResumeView(); }
        TViewSuspension(const TViewSuspension&) = delete;
        TViewSuspension& operator=(const TViewSuspension&) = delete;

      private:
        TCatalogueTable& FTable;
    };

    // Stores the filter expression; while filtering is on it is parsed and applied at once (a parse
    // error then changes nothing). A blank expression lets every record through. Throws
    // TFilterParseError.
    void SetFilterExpression(const QString& expression);
    QString FilterExpression() const { return FFilterExpression; }
    // Switching on parses the stored expression (a parse error leaves filtering off) and shows only
    // the records it holds for; switching off shows them all. Either way the first one becomes current.
    void SetFiltered(bool filtered);
    bool IsFiltered() const { return FFiltered; }

    // The grid's text for a last-modified time: the short date, and when the time is not exactly
    // midnight a blank and the long time, both in the user's formats.
    static QString DateTimeText(const QDateTime& time);

  signals:
    // The table moved its current record itself (or the view was refreshed), so the view should select
    // this row; -1 when no record is shown.
    void CurrentRecordMoved(int row);

  private:
    bool IsShown(qsizetype index) const;
    // Shows the records that pass the filter now in force and makes the first of them current.
    void ShowFiltered();
    // Tells the view which row the table made current; a suspended view hears of it on resuming.
    void NotifyCurrent();
    // Index of the current record among all, -1 when there is none.
    qsizetype Current() const;

    TCatalogueRecords FRecords{TextFieldWidth, PathFieldWidth};
    std::vector<int> FShown; // indices into FRecords, in order
    int FCurrentRow = -1;
    QString FFilterExpression;
    bool FFiltered = false;
    std::optional<TLikePattern> FPattern; // the parsed expression; none for a blank one
    int FSuspensions = 0;
};
