#pragma once

#include "AccountTestService.h"
#include "app/CorvaneEnvironment.h"
#include "app/CorvaneForm.h"
#include "app/ErrorBox.h"
#include "S3TestServer.h"
#include "settings/SettingsStore.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>

// What every main-window test needs: the window pointed at the test servers, a clean settings store,
// and the error boxes collected instead of shown.
class AppTestBed {
  public:
    AppTestBed() {
        QFile::remove(SettingsStore().Location());
        SetErrorBoxHandler([this](const QString& text) { errorBoxes.append(text); });
    }
    ~AppTestBed() { SetErrorBoxHandler({}); }
    AppTestBed(const AppTestBed&) = delete;
    AppTestBed& operator=(const AppTestBed&) = delete;

    // The test servers' addresses; ending the tool is only counted.
    TCorvaneEnvironment Environment() {
        TCorvaneEnvironment environment;
        environment.EndTool = [this] { ++endToolRequests; };
        environment.AccountUrl = AccountTestService::FromFixture().BaseUrl();
        environment.Storage = S3TestServer::FromFixture().ConnectionInfo();
        environment.StorageLimits.connectTimeout = std::chrono::seconds(5);
        environment.StorageLimits.stallTimeout = std::chrono::seconds(10);
        return environment;
    }

    // A window made after a stored sign-in with the demo account and the given settings, shown: its
    // catalogue is already listed.
    std::unique_ptr<TCorvaneEditorForm> SignedInWindow(const QString& bucketSetting,
                                                       const QString& workingFolder = {},
                                                       const QString& databaseUser = {}) {
        StoreDemoAccount();
        Store(SettingName::Bucket, bucketSetting);
        Store(SettingName::TempDir, workingFolder);
        Store(SettingName::DBUsername, databaseUser);
        auto form = std::make_unique<TCorvaneEditorForm>(Environment());
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            throw std::runtime_error("the window was not shown");
        return form;
    }

    // Credentials that the account service accepts.
    static void StoreDemoAccount() {
        Store(SettingName::Username, QStringLiteral("demo"));
        Store(SettingName::Password, QStringLiteral("demo"));
    }

    static void Store(const QString& name, const QString& text) { SettingsStore().WriteText(name, text); }
    static QString Stored(const QString& name) { return SettingsStore().ReadText(name); }

    // Runs action on the next modal dialog of type Dialog as soon as it is open.
    template <typename Dialog> static void WhenModalOpens(std::function<void(Dialog*)> action) {
        auto* poll = new QTimer(qApp);
        poll->setInterval(20);
        QObject::connect(poll, &QTimer::timeout, poll, [poll, action] {
            if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
                poll->stop();
                poll->deleteLater();
                action(dialog);
            }
        });
        poll->start();
    }

    QStringList errorBoxes;
    int endToolRequests = 0;
};
