#pragma once

#include "UiContext.h"

#include <QWidget>

#include <QCoroTask>

#include <functional>

class QLabel;
class QPushButton;

// "Restore Protection": puts KeelMark's rule set back on main while the
// last check found protection missing or weakened, then checks at once.
// Shown on every page that reports protection; hidden while it holds.
class RestoreProtectionAction : public QWidget {
    Q_OBJECT

public:
    // Asks whether to go ahead for `repository` ("org/repo").
    using Confirmation = std::function<bool(QWidget *parent, const QString &repository)>;

    explicit RestoreProtectionAction(const UiContext &context, QWidget *parent = nullptr);

    // Replaces the confirmation dialog (tests answer without a native window).
    void setConfirmation(Confirmation confirm) { m_confirm = std::move(confirm); }

private:
    void render();
    void start();
    QCoro::Task<> restore(QString org, QString repo);
    void finish(const QString &failure);

    UiContext m_context;
    Confirmation m_confirm;
    bool m_running = false;
    QPushButton *m_button = nullptr;
    QLabel *m_message = nullptr;
};
