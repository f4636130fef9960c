#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QWidget>

#include <memory>

class QShowEvent;
class Ui_UserInfoForm;

// Another user's description, picture and upload figures, on a tab of the user list's
// "User Info" page. It asks once, when opened, and shows every later answer of that user too.
class UserInfoForm : public QWidget
{
    Q_OBJECT

public:
    // Pictures larger than this on a side are shown scaled down to fit.
    static constexpr int MaxShownWidth = 800;
    static constexpr int MaxShownHeight = 400;
    // A picture that declares more than this on a side is not decoded: a few bytes could
    // otherwise claim gigabytes.
    static constexpr int MaxDecodedSide = 4096;

    explicit UserInfoForm(QWidget* ip_parent = nullptr);
    ~UserInfoForm() override;

    // Records the user and sends the request.
    void Init(QString i_user);
    QString User() const { return m_user; }

    // The picture decoded within the size limits, scaled to fit; null when it does not decode.
    static QImage DecodePicture(const QByteArray& i_picture);

public slots:
    void OnUserInfoReceived(QString i_user, QString i_description, bool i_hasPicture,
                            QByteArray i_picture, int i_uploadSlots, int i_queuedUploads,
                            bool i_freeUploadSlots);
    void OnConnectionToUserFailed(QString i_user, QString i_connectionType);

protected:
    void showEvent(QShowEvent* ip_event) override;

private:
    void RaiseNotice();

    std::unique_ptr<Ui_UserInfoForm> mp_ui;
    QString m_user;
    bool m_requestPending = false;
};
