#include "shell/NewVersionDialog.h"

#include <QUrl>

#include "shell/Desktop.h"
#include "shell/UpdateChecker.h"
#include "store/Settings.h"
#include "ui_NewVersionDialog.h"

NewVersionDialog::NewVersionDialog(qint64 i_version, QString i_downloadLink,
                                   QStringList i_description, QWidget* ip_parent)
    : QDialog(ip_parent), mp_ui(std::make_unique<Ui_NewVersionDialog>()), m_version(i_version),
      m_downloadLink(std::move(i_downloadLink))
{
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("TarnwickQt Update"));
    connect(mp_ui->downloadButton, &QPushButton::clicked, this,
            &NewVersionDialog::OnDownloadButtonClicked);
    connect(mp_ui->skipButton, &QPushButton::clicked, this, &NewVersionDialog::OnSkipButtonClicked);

    mp_ui->currentVersionEdit->setText(BuildText(g_currentVersion));
    mp_ui->newVersionEdit->setText(BuildText(m_version));
    for (const QString& l_line : i_description)
        mp_ui->descriptionEdit->append(l_line);
}

NewVersionDialog::~NewVersionDialog() = default;

QString NewVersionDialog::BuildText(qint64 i_version)
{
    return QStringLiteral("Build %1/%2/%3")
        .arg(i_version % 10000 / 100)
        .arg(i_version % 100)
        .arg(i_version / 10000);
}

void NewVersionDialog::OnDownloadButtonClicked()
{
    Desktop::OpenWebPage(QUrl(m_downloadLink, QUrl::StrictMode));
}

void NewVersionDialog::OnSkipButtonClicked()
{
    SetSetting(QStringLiteral("skip_version"), QString::number(m_version));
    close();
}
