#pragma once

#include <QWidget>

// The application's one top-level window. Closing it only hides it, so the
// next open shows the same window with its state.
class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    explicit SettingsWindow(QWidget *parent = nullptr);

protected:
    void closeEvent(QCloseEvent *event) override;
};
