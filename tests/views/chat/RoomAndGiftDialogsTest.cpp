#include "views/chat/CreateRoomDialog.h"
#include "views/chat/GiftPrivilegesDialog.h"

#include <tuple>

#include "shell/ShellFixture.h"
#include "support/support/ServerMessageFixture.h"

// Every case below sends before the fence of the fixture's `Sent`, so a request that should
// not have gone out would show up there.
using RoomAndGiftDialogs = ServerMessageFixture;

TEST_F(RoomAndGiftDialogs, GiftSendsOnlyAPositiveNumberOfDaysAndThenGoes)
{
    // What is typed, whether the dialog is closed rather than clicked, and the days sent.
    const std::tuple<const char*, bool, int> l_cases[] = {
        {"", false, 0}, {"0000", false, 0}, {"a1b2", false, 12}, {"0007", false, 7}, {"12345", false, 1234},
        {"5", true, 0}};
    QList<QByteArray> l_expected;
    for (const auto& [l_typed, l_close, l_days] : l_cases)
    {
        QPointer<GiftPrivilegesDialog> lp_dialog = new GiftPrivilegesDialog("bob");
        lp_dialog->show();
        QTest::keyClicks(Child<QLineEdit>(lp_dialog, "daysEdit"), l_typed);
        if (l_close)
            lp_dialog->close();
        else
            Child<QPushButton>(lp_dialog, "giftButton")->click();
        FlushDeletes();
        if (l_days)
            l_expected << WireFields().Text("bob").Int32(l_days);
        EXPECT_EQ(lp_dialog.isNull(), l_days || l_close) << l_typed;
        delete lp_dialog;
    }
    EXPECT_EQ(Sent(123), l_expected);
}

TEST_F(RoomAndGiftDialogs, RoomRequestsCarryTheTrimmedNameAndFlagAndOnlyASentDialogMakesWayForAFresh)
{
    QWidget l_mainWindow;
    // The name and box ("|x" when ticked) as the dialog opens with them, what is set, whether it
    // is closed rather than clicked, and whether a request goes out.
    const std::tuple<QString, const char*, bool, bool, bool> l_steps[] = {
        {"|", "   ", true, false, false}, {"   |x", "", false, false, false}, {"|", "jazz", true, true, false},
        {"jazz|x", " Jazz Club\t", true, false, true}, {"|", "rock", false, false, true}};
    QList<QByteArray> l_expected;
    for (const auto& [l_found, l_typed, l_private, l_close, l_sent] : l_steps)
    {
        QPointer<CreateRoomDialog> lp_dialog = CreateRoomDialog::Open(&l_mainWindow);
        auto* lp_name = Child<QLineEdit>(lp_dialog, "roomNameEdit");
        auto* lp_private = Child<QCheckBox>(lp_dialog, "createPrivateCheckBox");
        EXPECT_EQ(lp_name->text() + (lp_private->isChecked() ? "|x" : "|"), l_found);
        lp_name->setText(l_typed);
        lp_private->setChecked(l_private);
        if (l_close)
            lp_dialog->close();
        else
            Child<QPushButton>(lp_dialog, "createRoomButton")->click();
        FlushDeletes();
        if (l_sent)
            l_expected << WireFields().Text(QString(l_typed).trimmed()).Int32(l_private);
        EXPECT_EQ(lp_dialog.isNull(), l_sent) << l_typed;
        EXPECT_EQ(!lp_dialog || lp_dialog->isVisible(), !l_close) << l_typed;
        EXPECT_EQ(createRoomDialog, lp_dialog.data());
    }
    EXPECT_EQ(Sent(14), l_expected);
}
