// Setting from a plan: the file is read off the window's thread by the companion's reader,
// held against the table's devices and shown; the rows the person sets are checked on the
// link like a range, then sent in the plan's order, each by its device's adapter.
#pragma once

#include "planview.h"
#include "takenaddresses.h"

#include <QObject>

#include <memory>

class AddressCheckThread;
class MainWindow;
class QPushButton;
class QThread;

class PlanFlow : public QObject {
    Q_OBJECT
public:
    explicit PlanFlow(MainWindow* window);
    ~PlanFlow() override;

    // Asks for the plan file, then opens it.
    void choosePlan();
    // Reads the plan; its view follows once it is read, or a notice says why not.
    void openPlan(const QString& path);
    bool reading() const { return m_reader != nullptr; }

private:
    struct Read;
    void planRead();
    void showPlan(std::unique_ptr<PlanViewData> data);
    void checkPlan(const PlanViewData& data);
    void decide(const std::vector<AddressVerdict>& found);
    void cancelCheck();
    void notice(const QString& text);

    MainWindow* m_window;
    QPushButton* m_button = nullptr;
    QString m_folder; // where the dialog opens: the last plan's, else the working folder
    QThread* m_reader = nullptr;
    std::shared_ptr<Read> m_read;
    // The rows being checked, with their settings, until the check's verdicts come.
    std::unique_ptr<AddressCheckThread> m_check;
    std::unique_ptr<BatchCheck> m_batch;
    RowAddresses m_given;
    QList<RowSettings> m_settings;
};
