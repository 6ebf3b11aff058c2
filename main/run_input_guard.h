#pragma once
// While a run writes the card nothing the user does may reach the window:
// the run cannot be stopped safely, and input held back until the run ends
// would act on the result page (a Cancel or Finish clicked during the run
// would close it unseen). The guard drops such input instead of holding it,
// and keeps the window from being closed.

#include <QObject>

class QWidget;

class RunInputGuard final : public QObject {
public:
    // Guards `window` and every widget of the application from now on.
    explicit RunInputGuard(QWidget* window);
    ~RunInputGuard() override;
    RunInputGuard(const RunInputGuard&) = delete;
    RunInputGuard& operator=(const RunInputGuard&) = delete;

    // How many input events were dropped.
    int dropped() const { return dropped_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
    int dropped_ = 0;
};
