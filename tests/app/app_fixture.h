// Shared set-up of the window tests: a fresh event database, the seams of
// the window layer, and helpers that wait for a search window.
#pragma once

#include <gtest/gtest.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "app/searchdlg.h"
#include "core/controls/wnd.h"
#include "core/eventstore/eventstore.h"
#include "core/eventstore/store_fixture.h"
#include "platform/text.h"
#include "support/isolation.h"

namespace ps_test {

class AppTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dbPath_ = dir_.file("events.db");
        CopyTemplateDatabase(plat::PathFromNative(BuiltTemplatePath()), plat::PathFromNative(dbPath_));
        OpenEventDatabase(plat::PathFromNative(dbPath_));
        AppIcons().FillExtensionIcons({u"HWP", u"TXT", u"DOC", u"PPT", u"XLS", u"DOCX", u"PPTX", u"XLSX", u"PDF"});
        ps::ui::Seams().messageBox = [this](const std::u16string& text, const std::u16string&, int type, QWidget*) {
            messages_.push_back(text);
            return type == 0 ? answer_ : ps::ui::IDOK;
        };
        ps::ui::Seams().statisticsAction = [this](int a) { actions_.push_back(a); };
        ps::ui::Seams().openDesktop = [this](const QUrl& u) {
            opened_.push_back(u.toString().toStdString());
            return true;
        };
    }
    void TearDown() override
    {
        ps::ui::Seams() = ps::ui::UiSeams();
        ExitEventDatabase();
    }

    // Waits until the window is idle again and no analysis runs.
    static bool WaitIdle(CAllSearchDlg& dlg, int ms = 60000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            if (dlg.IsIdle() && !dlg.IsSearching() && !dlg.HasTimer(CAllSearchDlg::IDT_SEARCH_COMPLETE) &&
                !dlg.AnalysisRunning())
                return true;
        }
        return false;
    }
    template <typename Pred>
    static bool WaitFor(Pred pred, int ms = 60000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            if (pred()) return true;
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return pred();
    }

    long long Count(const std::string& sql)
    {
        RawDb db(dbPath_);
        return db.Int(sql);
    }
    std::string Text(const std::string& sql)
    {
        RawDb db(dbPath_);
        return db.Text(sql);
    }

    TempDir dir_;
    std::string dbPath_;
    std::vector<std::u16string> messages_;
    std::vector<int> actions_;
    std::vector<std::string> opened_;
    int answer_ = ps::ui::IDOK;
};

// Runs an action window modally and closes it once its run has ended;
// during, when given, acts on the window once its run has its event.
inline int RunToEndActing(CDocumentActionDlg& dlg, const std::function<void(CDocumentActionDlg&)>& during)
{
    QTimer t;
    bool poked = false;
    QObject::connect(&t, &QTimer::timeout, [&] {
        if (!dlg.isVisible()) return;
        if (during && !poked && dlg.CurrentEventId() != 0) {
            poked = true;
            during(dlg);
        }
        if (dlg.Finished()) dlg.OnBnClickedStop();  // the close button now
    });
    t.start(2);
    return dlg.DoModal();
}

// The same, acting on nothing (a runner for the action windows' seam).
inline int RunToEnd(CDocumentActionDlg& dlg) { return RunToEndActing(dlg, {}); }

}  // namespace ps_test
