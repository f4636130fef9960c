#pragma once

#include <QDialog>
#include <QString>

#include <list>
#include <map>
#include <set>
#include <string>

class Ui_TypeNavigatorDialog;

// Answers by which chains of declared relations one item type leads to another: every chain of
// at most six steps, shortest first. Reads the schema only, never items.
class TypeNavigatorDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TypeNavigatorDialog(QWidget* ip_parent = nullptr);
    ~TypeNavigatorDialog() override;

    void Init();

    // Adds to names every type reachable from typeName in one step and up to the step limit,
    // counting depth as the number of the first step.
    void GetRelatedTypes(std::string i_typeName, std::set<std::string>& io_names, int i_depth);
    // Adds every simple chain from current to target that extends path within the step limit.
    void FindPath(std::string i_current, std::string i_target, std::list<std::string>& io_path);

    static const int kMaxSteps = 6;

public slots:
    void onFromTypeSelectionChanged(QString i_typeName);
    void onToTypeSelectionChanged(QString);

private:
    void Search(const std::string& i_current, const std::string& i_target,
                std::list<std::string>& io_path,
                const std::map<std::string, int>& i_distanceToTarget);

    Ui_TypeNavigatorDialog* mp_ui;
    std::list<std::list<std::string>> m_paths;
};

extern TypeNavigatorDialog* typeNavigatorDialog;
