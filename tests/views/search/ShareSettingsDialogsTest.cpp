#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QPushButton>

#include <gtest/gtest.h>

#include "shell/Desktop.h"
#include "store/Data.h"
#include "store/SchemaDeclaration.h"
#include "store/Type.h"
#include "support/TestSupport.h"
#include "views/search/ExcludedExtensionsDialog.h"
#include "views/search/SharedFilesRescannedDialog.h"

// The excluded endings as the transfer queues declare them, with ".ini" from a first start.
class ShareSettingsDialogs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DeclareTypes({{"excluded_download_extension", Primary, false}});
        d.GetType("excluded_download_extension")->GetItem(".ini");
        Desktop::SetPopupMenu([this](QMenu& io_menu, const QPoint&) {
            ++m_menus;
            io_menu.actions().first()->trigger();
        });
    }
    void TearDown() override { Desktop::SetPopupMenu({}); }

    static QStringList Stored()
    {
        QStringList l_values;
        for (ItemPtr l_item : d.GetType("excluded_download_extension")->GetItems())
            l_values << l_item.AsString();
        l_values.sort();
        return l_values;
    }
    static QStringList Rows(QListWidget* ip_list)
    {
        QStringList l_rows;
        for (int l_row = 0; l_row < ip_list->count(); ++l_row)
            l_rows << ip_list->item(l_row)->text();
        return l_rows;
    }

    int m_menus = 0;
};

TEST_F(ShareSettingsDialogs, ExcludedEndingsAreAddedTrimmedOnceAndRemovedFromTheStore)
{
    QWidget l_window;
    QPointer<ExcludedExtensionsDialog> lp_dialog = ExcludedExtensionsDialog::Open(&l_window);
    EXPECT_EQ(ExcludedExtensionsDialog::Open(&l_window), lp_dialog.data());
    auto* lp_list = lp_dialog->findChild<QListWidget*>("extensionListWidget");
    auto* lp_edit = lp_dialog->findChild<QLineEdit*>("newExtensionEdit");
    auto* lp_add = lp_dialog->findChild<QPushButton*>("newExtensionButton");

    for (const char* l_typed : {"  .mp3 ", "   ", ".ini", "ini", ".INI", ".mp3"})
    {
        lp_edit->setText(l_typed);
        lp_add->click();
        EXPECT_TRUE(lp_edit->text().isEmpty()) << l_typed;
    }
    d.GetType("excluded_download_extension")->GetItem(".nfo");
    const QStringList l_all{".INI", ".ini", ".mp3", ".nfo", "ini"};
    EXPECT_EQ(Stored(), l_all);
    EXPECT_EQ(Rows(lp_list), l_all);

    lp_dialog->OnExtensionListContextMenuRequested(QPoint(5, lp_list->height() - 3));
    EXPECT_EQ(m_menus, 0);
    lp_list->item(0)->setSelected(true);
    lp_list->item(4)->setSelected(true);
    lp_dialog->OnExtensionListContextMenuRequested(lp_list->visualItemRect(lp_list->item(2)).center());
    EXPECT_EQ(m_menus, 1);
    EXPECT_EQ(Stored(), QStringList({".ini", ".mp3", ".nfo"}));
    EXPECT_EQ(Rows(lp_list), Stored());

    // Closed, it is gone; the next one is built from the store.
    lp_dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(lp_dialog.isNull());
    EXPECT_EQ(excludedExtensionsDialog, nullptr);
    lp_dialog = ExcludedExtensionsDialog::Open(&l_window);
    EXPECT_EQ(Rows(lp_dialog->findChild<QListWidget*>("extensionListWidget")), Stored());
}

TEST_F(ShareSettingsDialogs, RescanReportKeepsItsLinesAsParagraphs)
{
    SharedFilesRescannedDialog l_report;
    l_report.Append("0 files added.");
    l_report.Append("<b>2</b> files removed.");
    EXPECT_EQ(l_report.Text(), "0 files added.\n<b>2</b> files removed.");
    EXPECT_TRUE(l_report.testAttribute(Qt::WA_DeleteOnClose));
}
