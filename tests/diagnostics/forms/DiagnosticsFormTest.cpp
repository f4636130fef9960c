#include <QTabWidget>
#include <QTextBrowser>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <memory>

#include "diagnostics/DiagnosticsForm.h"
#include "diagnostics/Log.h"
#include "diagnostics/LogFixture.h"

namespace
{
class DiagnosticsPage : public LogFixture
{
protected:
    void SetUp() override
    {
        LogFixture::SetUp();
        page = std::make_unique<DiagnosticsForm>();
        page->Init();
        page->RegisterLoggableItemType("user");
        areas = page->findChild<QTabWidget*>("logTabWidget");
        ASSERT_NE(areas, nullptr);
    }

    QStringList TabTexts() const
    {
        QStringList texts;
        for (int index = 0; index < areas->count(); ++index)
            texts << areas->tabText(index);
        return texts;
    }

    QTextBrowser* Browser(int index) const { return qobject_cast<QTextBrowser*>(areas->widget(index)); }

    std::unique_ptr<DiagnosticsForm> page;
    QTabWidget* areas = nullptr;
};
} // namespace

TEST_F(DiagnosticsPage, EachAreaGetsATabAtItsFirstLine)
{
    EXPECT_EQ(areas->count(), 0);
    Log("server", 1, "Connecting", ItemPtr());
    Log("Peer Messenger", 2, "Listening on %1", ItemPtr());
    Log("server", 3, "Resolved", ItemPtr());

    ASSERT_EQ(TabTexts(), (QStringList{"server", "Peer Messenger"}));
    const QStringList server = Browser(0)->toPlainText().split('\n');
    ASSERT_EQ(server.size(), 2);
    EXPECT_TRUE(server[0].endsWith("] Connecting"));
    EXPECT_TRUE(server[1].endsWith("]       Resolved")) << "six blanks for level 3";
    EXPECT_TRUE(Browser(1)->toPlainText().endsWith("]    Listening on %1"));

    // The store names each area's browser.
    for (int index = 0; index < areas->count(); ++index)
    {
        ItemPtr widget = d.GetType("log")->HasItem(areas->tabText(index))["log_widget"];
        ASSERT_TRUE(widget);
        EXPECT_EQ(widget.AsPointer<QTextBrowser>(), Browser(index));
    }
}

TEST_F(DiagnosticsPage, RemoteTextIsShownAsPlainTextNeverAsMarkup)
{
    const QString hostile = "<b>bob</b> &amp; <a href=\"http://x\">link</a><img src=\"/etc/x\">";
    Log("server", 1, hostile, ItemPtr());

    QTextBrowser* browser = Browser(0);
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(browser->toPlainText().endsWith("] " + hostile));
    EXPECT_FALSE(browser->document()->toHtml().contains("<b>"));
    EXPECT_FALSE(browser->document()->toHtml().contains("<a href"));
}

TEST_F(DiagnosticsPage, AnEmptiedStoreDoesNotGiveAnAreaASecondTab)
{
    Log("Configuration Data", 1, "Loading configuration data from %1", ItemPtr());
    d.GetType("log")->RemoveAllItems();
    d.GetType("log_widget")->RemoveAllItems();
    Log("Configuration Data", 1, "Failure to load configuration data.", ItemPtr());

    ASSERT_EQ(TabTexts(), QStringList{"Configuration Data"});
    EXPECT_EQ(Browser(0)->toPlainText().count('\n'), 1);
    ItemPtr widget = d.GetType("log")->HasItem("Configuration Data")["log_widget"];
    EXPECT_EQ(widget.AsPointer<QTextBrowser>(), Browser(0));
}

TEST_F(DiagnosticsPage, EntriesAndFilesGoOnBehindThePage)
{
    EnableLogging();
    ItemPtr alice = d.GetType("user")->GetItem("alice");
    page->Log("server", 1, "Alice is online", alice);

    EXPECT_EQ(alice.GetItems("item_log").Size(), 1u);
    EXPECT_EQ(FileLines("server").size(), 2);
    EXPECT_EQ(FileLines("server")[1], Browser(0)->toPlainText().toLatin1());
}

TEST_F(DiagnosticsPage, LogGoesOnAfterThePageIsGone)
{
    Log("server", 1, "Connecting", ItemPtr());
    QTextBrowser* browser = Browser(0);
    EXPECT_EQ(diagnosticsForm, page.get());
    page.reset();

    EXPECT_EQ(diagnosticsForm, nullptr);
    EXPECT_FALSE(d.GetType("log_widget")->HasItem(browser)) << "no dangling address stays";
    EnableLogging();
    Log("server", 1, "Connected", ItemPtr());
    EXPECT_EQ(FileLines("server").size(), 2);
}
