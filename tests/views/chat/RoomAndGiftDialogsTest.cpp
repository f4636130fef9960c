#include "views/chat/CreateRoomDialog.h"
#include "views/chat/GiftPrivilegesDialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "support/support/ServerMessageFixture.h"

namespace
{
// Every case below sends before the fence of the fixture's `Sent`, so a request that should
// not have gone out would show up there.
class RoomAndGiftDialogs : public ServerMessageFixture
{
protected:
    static void Click(QDialog* ip_dialog, const char* i_button)
    {
        ip_dialog->findChild<QPushButton*>(i_button)->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};
} // namespace

TEST_F(RoomAndGiftDialogs, GiftSendsOnlyAPositiveNumberOfDaysAndThenGoes)
{
    const struct
    {
        const char* typed;
        bool close;
        int days;
    } l_cases[] = {{"", false, 0},      {"0000", false, 0}, {"a1b2", false, 12},
                   {"0007", false, 7}, {"12345", false, 1234}, {"5", true, 0}};
    QList<QByteArray> l_expected;
    for (const auto& l_case : l_cases)
    {
        QPointer<GiftPrivilegesDialog> lp_dialog = new GiftPrivilegesDialog("bob");
        EXPECT_EQ(lp_dialog->windowTitle(), "Gift Privileges to bob");
        lp_dialog->show();
        QTest::keyClicks(lp_dialog->findChild<QLineEdit*>("daysEdit"), l_case.typed);
        if (l_case.close)
            lp_dialog->close();
        else
            lp_dialog->findChild<QPushButton*>("giftButton")->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (l_case.days)
            l_expected << WireFields().Text("bob").Int32(l_case.days);
        EXPECT_EQ(lp_dialog.isNull(), l_case.days || l_case.close) << l_case.typed;
        delete lp_dialog;
    }
    EXPECT_EQ(Sent(123), l_expected);
}

TEST_F(RoomAndGiftDialogs, RoomRequestCarriesTheTrimmedNameAndPrivateFlagButNeverABlankName)
{
    const struct
    {
        const char* typed;
        bool isPrivate, sent;
    } l_cases[] = {{"   ", true, false}, {"", false, false}, {" Jazz Club\t", true, true},
                   {"rock", false, true}};
    QList<QByteArray> l_expected;
    for (const auto& l_case : l_cases)
    {
        QPointer<CreateRoomDialog> lp_dialog = CreateRoomDialog::Open(nullptr);
        lp_dialog->findChild<QLineEdit*>("roomNameEdit")->setText(l_case.typed);
        lp_dialog->findChild<QCheckBox*>("createPrivateCheckBox")->setChecked(l_case.isPrivate);
        Click(lp_dialog, "createRoomButton");
        if (l_case.sent)
            l_expected << WireFields().Text(QString(l_case.typed).trimmed()).Int32(l_case.isPrivate);
        EXPECT_EQ(lp_dialog.isNull(), l_case.sent) << l_case.typed;
        EXPECT_EQ(createRoomDialog, lp_dialog.data());
        EXPECT_TRUE(l_case.sent || lp_dialog->isVisible());
    }
    EXPECT_EQ(Sent(14), l_expected);
}

TEST_F(RoomAndGiftDialogs, ClosedRoomDialogComesBackAsLeftAndASentOneMakesWayForAFreshOne)
{
    QWidget l_mainWindow;
    QPointer<CreateRoomDialog> lp_first = CreateRoomDialog::Open(&l_mainWindow);
    lp_first->findChild<QLineEdit*>("roomNameEdit")->setText("jazz");
    lp_first->findChild<QCheckBox*>("createPrivateCheckBox")->setChecked(true);
    lp_first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(lp_first && !lp_first->isVisible());

    EXPECT_EQ(CreateRoomDialog::Open(&l_mainWindow), lp_first.data());
    EXPECT_TRUE(lp_first->isVisible());
    EXPECT_EQ(lp_first->parentWidget(), &l_mainWindow);
    EXPECT_EQ(lp_first->findChild<QLineEdit*>("roomNameEdit")->text(), "jazz");
    Click(lp_first, "createRoomButton");
    EXPECT_TRUE(lp_first.isNull());

    CreateRoomDialog* lp_fresh = CreateRoomDialog::Open(&l_mainWindow);
    EXPECT_EQ(createRoomDialog, lp_fresh);
    EXPECT_EQ(lp_fresh->findChild<QLineEdit*>("roomNameEdit")->text(), "");
    EXPECT_FALSE(lp_fresh->findChild<QCheckBox*>("createPrivateCheckBox")->isChecked());
    EXPECT_EQ(Sent(14), QList<QByteArray>{WireFields().Text("jazz").Int32(1)});
}
