#pragma once

#include "storage/S3ConnectionInfo.h"
#include "storage/S3StorageService.h"

#include <QString>

#include <functional>

// Where the main window finds the outside services. The program always uses FromBuild(); tests point
// a window at the servers they started.
struct TCorvaneEnvironment {
    QString AccountUrl;
    TS3ConnectionInfo Storage;
    TS3TransportLimits StorageLimits;
    // Ends the tool when the sign-in dialog is closed without a sign-in.
    std::function<void()> EndTool;

    static TCorvaneEnvironment FromBuild();
};
