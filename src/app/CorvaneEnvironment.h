#pragma once

#include "settings/PasswordVault.h"
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
    // Where the account password is kept: the program's is the system keyring; a window made for a test
    // or a benchmark keeps it in the settings store alone and never reaches the user's keyring.
    TPasswordVault::TKeyringUse Keyring = TPasswordVault::TKeyringUse::None;

    static TCorvaneEnvironment FromBuild();
};
