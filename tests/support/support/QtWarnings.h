#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

// Records every warning and critical message Qt gives while it lives, from any thread; each
// message still goes on to the handler that was there before, which comes back at the end.
class QtWarnings
{
public:
    QtWarnings()
    {
        QMutexLocker l_lock(&Mutex());
        Lines().clear();
        Previous() = qInstallMessageHandler(&Record);
    }
    ~QtWarnings() { qInstallMessageHandler(Previous()); }
    QtWarnings(const QtWarnings&) = delete;
    QtWarnings& operator=(const QtWarnings&) = delete;

    QStringList Given() const
    {
        QMutexLocker l_lock(&Mutex());
        return Lines();
    }

private:
    static void Record(QtMsgType i_type, const QMessageLogContext& i_context, const QString& i_text)
    {
        QtMessageHandler lp_previous = nullptr;
        {
            QMutexLocker l_lock(&Mutex());
            if (i_type == QtWarningMsg || i_type == QtCriticalMsg)
                Lines() << i_text;
            lp_previous = Previous();
        }
        if (lp_previous)
            lp_previous(i_type, i_context, i_text);
    }
    static QMutex& Mutex()
    {
        static QMutex s_mutex;
        return s_mutex;
    }
    static QStringList& Lines()
    {
        static QStringList s_lines;
        return s_lines;
    }
    static QtMessageHandler& Previous()
    {
        static QtMessageHandler s_previous = nullptr;
        return s_previous;
    }
};
