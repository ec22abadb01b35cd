#pragma once

#include "app/CorvaneEnvironment.h"
#include "app/CorvaneForm.h"
#include "core/Error.h"
#include "settings/SettingsStore.h"
#include "support/AccountTestService.h"
#include "support/ErrorBoxCapture.h"
#include "support/S3TestServer.h"

#include <QFile>
#include <QStringList>
#include <QTest>

#include <chrono>
#include <memory>

// What every main-window test needs: the window pointed at the test servers, a clean settings store,
// and the error boxes collected instead of shown.
class TAppTestBed {
  public:
    TAppTestBed() { QFile::remove(TSettingsStore().Location()); }
    TAppTestBed(const TAppTestBed&) = delete;
    TAppTestBed& operator=(const TAppTestBed&) = delete;

    // The test servers' addresses; ending the tool is only counted.
    TCorvaneEnvironment Environment() {
        TCorvaneEnvironment environment;
        environment.EndTool = [this] { ++EndToolRequests; };
        // The password stays in the test's settings file, out of any keyring.
        environment.Keyring = TPasswordVault::TKeyringUse::None;
        environment.AccountUrl = TAccountTestService::FromFixture().BaseUrl();
        environment.Storage = TS3TestServer::FromFixture().ConnectionInfo();
        if (!StorageEndpoint.isEmpty())
            environment.Storage.StorageEndpoint = StorageEndpoint;
        environment.StorageLimits.ConnectTimeout = std::chrono::seconds(5);
        environment.StorageLimits.StallTimeout = std::chrono::seconds(10);
        return environment;
    }

    // Waits until the window's start-up and its operation (the sign-in check, Connect, a download or a
    // restore) have ended; throws when they take more than a minute.
    static void WaitUntilIdle(const TCorvaneEditorForm& form) {
        if (!QTest::qWaitFor([&] { return !form.IsStartUpPending() && !form.IsOperationRunning(); }, 60000))
            throw TError(QStringLiteral("the window's operation did not end"));
    }

    // A window made after a stored sign-in with the demo account and the given settings, shown: its
    // catalogue is already listed.
    std::unique_ptr<TCorvaneEditorForm> SignedInWindow(const QString& bucketSetting,
                                                       const QString& workingFolder = {},
                                                       const QString& databaseUser = {}) {
        StoreDemoAccount();
        Store(TSettingName::Bucket, bucketSetting);
        Store(TSettingName::TempDir, workingFolder);
        Store(TSettingName::DBUsername, databaseUser);
        auto form = std::make_unique<TCorvaneEditorForm>(Environment());
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            throw TError(QStringLiteral("the window was not shown"));
        WaitUntilIdle(*form);
        return form;
    }

    // Credentials that the account service accepts.
    static void StoreDemoAccount() {
        Store(TSettingName::Username, QStringLiteral("demo"));
        Store(TSettingName::Password, QStringLiteral("demo"));
    }

    static void Store(const QString& name, const QString& text) { TSettingsStore().WriteText(name, text); }
    static QString Stored(const QString& name) { return TSettingsStore().ReadText(name); }

    QStringList ErrorBoxes;
    int EndToolRequests = 0;
    // Another storage server than s3rver (host:port), such as the fault server's.
    QString StorageEndpoint;

  private:
    TErrorBoxCapture FErrorBoxCapture{ErrorBoxes};
};
