#pragma once

#include <QString>
#include <QWidget>

#include <memory>

class Ui_ReceivedSearchesForm;

// The searches other users' clients sent us, newest first, "Match" where we answered with files.
// The list holds the last 500 and can be paused from the toolbar; what comes while it is paused
// is never shown. There is one, reached through `receivedSearchesForm`.
class ReceivedSearchesForm : public QWidget
{
    Q_OBJECT

public:
    static const int MaxRows = 500;

    explicit ReceivedSearchesForm(QWidget* ip_parent = nullptr);
    ~ReceivedSearchesForm() override;

    // Follows the shares engine's processed searches and the toolbar; once the engine exists.
    void Init();

public slots:
    void OnSearchProcessed(QString i_search, bool i_match);
    void OnActionTriggered(QWidget* ip_widget, QString i_action);

private:
    std::unique_ptr<Ui_ReceivedSearchesForm> mp_ui;
    bool m_paused = false;
};

extern ReceivedSearchesForm* receivedSearchesForm;
