#include "views/chat/UserInfoForm.h"

#include <QBuffer>
#include <QImageReader>
#include <QShowEvent>
#include <QTextCursor>
#include <QUrl>

#include "peer/PeerMessenger.h"
#include "shell/EventToolBar.h"
#include "shell/UIFunctions.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "ui_UserInfoForm.h"

namespace
{
const char* const InfoIcon = ":/icons/info_icon";
const char* const ImageName = "UserImage";
} // namespace

UserInfoForm::UserInfoForm(QWidget* ip_parent)
    : QWidget(ip_parent), mp_ui(std::make_unique<Ui_UserInfoForm>())
{
    mp_ui->setupUi(this);
    // The slots another client reports get as much room as its queue.
    for (QLineEdit* lp_box : {mp_ui->uploadSlotsEdit, mp_ui->queuedUploadsEdit})
        FitFigureBox(lp_box, {QString::number(LargestFigure::Queue)});
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserInfoReceived, this,
                &UserInfoForm::OnUserInfoReceived);
}

UserInfoForm::~UserInfoForm()
{
    // However the form goes, the user has no information tab any more.
    if (Type* lp_records = d.HasType("user_info_form"))
        if (ItemPtr l_record = lp_records->HasItem(Value(this)))
            l_record.Remove();
}

void UserInfoForm::Init(QString i_user)
{
    m_user = std::move(i_user);
    if (peerMessenger)
        peerMessenger->GetUserInfo(m_user);
    m_requestPending = true;
    mp_ui->userInfoText->setText(tr("Requesting..."));
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::ConnectionToUserFailed, this,
                &UserInfoForm::OnConnectionToUserFailed);
}

QImage UserInfoForm::DecodePicture(const QByteArray& i_picture)
{
    QBuffer l_buffer;
    l_buffer.setData(i_picture);
    l_buffer.open(QIODevice::ReadOnly);
    QImageReader l_reader(&l_buffer);
    const QSize l_declared = l_reader.size();
    if (!l_declared.isValid() || l_declared.width() > MaxDecodedSide ||
        l_declared.height() > MaxDecodedSide)
        return QImage();
    QImage l_image = l_reader.read();
    if (l_image.isNull())
        return l_image;
    if (l_image.width() > MaxShownWidth || l_image.height() > MaxShownHeight)
        l_image = l_image.scaled(MaxShownWidth, MaxShownHeight, Qt::KeepAspectRatio,
                                 Qt::SmoothTransformation);
    return l_image;
}

void UserInfoForm::OnUserInfoReceived(QString i_user, QString i_description, bool i_hasPicture,
                                      QByteArray i_picture, int i_uploadSlots,
                                      int i_queuedUploads, bool i_freeUploadSlots)
{
    if (i_user != m_user)
        return;
    m_requestPending = false;
    mp_ui->uploadSlotsEdit->setText(QString::number(i_uploadSlots));
    mp_ui->queuedUploadsEdit->setText(QString::number(i_queuedUploads));
    mp_ui->freeToUploadEdit->setText(i_freeUploadSlots ? tr("Yes") : tr("No"));

    QString l_html;
    if (i_hasPicture)
    {
        const QImage l_image = DecodePicture(i_picture);
        if (l_image.isNull())
            return;
        mp_ui->userInfoText->document()->addResource(QTextDocument::ImageResource,
                                                     QUrl(ImageName), l_image);
        l_html += QStringLiteral("<img src=\"%1\" /><p>").arg(ImageName);
    }
    // The description is the other user's text, never markup of ours.
    if (i_description.isEmpty() && !i_hasPicture)
        l_html += tr("No user info.");
    else
        l_html += EscapeHTML(i_description).replace("\n", "<br>");
    mp_ui->userInfoText->setHtml(l_html);
    mp_ui->userInfoText->moveCursor(QTextCursor::Start);
    RaiseNotice();
}

void UserInfoForm::OnConnectionToUserFailed(QString i_user, QString i_connectionType)
{
    if (!m_requestPending || i_user != m_user || i_connectionType != QLatin1String("P"))
        return;
    m_requestPending = false;
    mp_ui->userInfoText->setPlainText(
        tr("A connection could not be successfully formed to the user."));
    RaiseNotice();
}

void UserInfoForm::RaiseNotice()
{
    if (eventToolBar)
        eventToolBar->AddEvent(m_user, InfoIcon, this, QString());
}

void UserInfoForm::showEvent(QShowEvent* ip_event)
{
    QWidget::showEvent(ip_event);
    if (eventToolBar)
        eventToolBar->RemoveEvents(this);
}
