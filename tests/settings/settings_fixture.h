// Shared set-up of the settings window tests: a fresh event database, an
// empty settings key, and the seams of the window layer recorded.
#pragma once

#include <gtest/gtest.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <filesystem>
#include <string>
#include <vector>

#include "core/controls/wnd.h"
#include "core/eventstore/eventstore.h"
#include "core/eventstore/store_fixture.h"
#include "core/registry.h"
#include "platform/keystore.h"
#include "platform/text.h"
#include "support/isolation.h"

namespace ps_test {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::KeyStore::User().DeleteKey(SettingsKey());
        dbPath_ = dir_.file("events.db");
        CopyTemplateDatabase(plat::PathFromNative(BuiltTemplatePath()), plat::PathFromNative(dbPath_));
        OpenEventDatabase(plat::PathFromNative(dbPath_));
        ps::ui::Seams().messageBox = [this](const std::u16string& text, const std::u16string&, int type, QWidget*) {
            messages_.push_back(text);
            return type == 0 ? answer_ : ps::ui::IDOK;
        };
        ps::ui::Seams().statisticsAction = [this](int a) { actions_.push_back(a); };
        ps::ui::Seams().openDesktop = [](const QUrl&) { return true; };
    }
    void TearDown() override
    {
        ps::ui::Seams() = ps::ui::UiSeams();
        ExitEventDatabase();
        RestoreStore();
    }

    // The types of the events, in the order written.
    std::vector<long long> EventTypes()
    {
        std::vector<long long> types;
        RawDb db(dbPath_);
        const long long n = db.Int("SELECT COUNT(*) FROM EventInfo");
        for (long long i = 0; i < n; ++i)
            types.push_back(db.Int("SELECT Type FROM EventInfo ORDER BY EventID LIMIT 1 OFFSET " + std::to_string(i)));
        return types;
    }
    void ClearEvents()
    {
        RawDb db(dbPath_);
        db.Exec("DELETE FROM EventInfo");
    }

    static std::u16string Str(const char16_t* name) { return ReadRegistryString(SettingsKey(), name, u"<none>"); }
    static uint32_t Dword(const char16_t* name, uint32_t def = 0xDEADBEEF)
    {
        return ReadRegistryDword(SettingsKey(), def, name);
    }
    static void SetStr(const char16_t* name, const std::u16string& v)
    {
        WriteRegistryString(HKEY_CURRENT_USER_ROOT, SettingsKey(), name, v, false);
    }
    static void SetDword(const char16_t* name, uint32_t v)
    {
        WriteRegistryDword(HKEY_CURRENT_USER_ROOT, SettingsKey(), name, v, false);
    }

    // Makes every later write of the key store fail: the store's file is
    // replaced by a folder, which no rename can replace (also for root).
    void BreakStore()
    {
        const std::string file = plat::KeyStore::User().FilePath();
        std::filesystem::rename(file, file + ".saved", ec_);
        std::filesystem::create_directories(file + "/blocked");
        broken_ = true;
    }
    void RestoreStore()
    {
        if (!broken_) return;
        const std::string file = plat::KeyStore::User().FilePath();
        std::filesystem::remove_all(file, ec_);
        std::filesystem::rename(file + ".saved", file, ec_);
        broken_ = false;
    }

    template <typename Pred>
    static bool WaitFor(Pred pred, int ms = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            if (pred()) return true;
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return pred();
    }
    static void Pump()
    {
        for (int i = 0; i < 5; ++i) QApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    TempDir dir_;
    std::string dbPath_;
    std::vector<std::u16string> messages_;
    std::vector<int> actions_;
    int answer_ = ps::ui::IDOK;
    bool broken_ = false;
    std::error_code ec_;
};

}  // namespace ps_test
