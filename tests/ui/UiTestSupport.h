#pragma once

// What the shell, wizard and dashboard tests share: a stand-in for the
// default browser, and readers for the widgets the screens name.

#include "AppState.h"
#include "ShellCommands.h"

#include <QDesktopServices>
#include <QLabel>
#include <QUrl>
#include <QWidget>

// While it lives, QDesktopServices hands it every http(s) address.
class BrowserStub : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

    BrowserStub() {
        QDesktopServices::setUrlHandler("http", this, "openUrl");
        QDesktopServices::setUrlHandler("https", this, "openUrl");
    }
    ~BrowserStub() override {
        QDesktopServices::unsetUrlHandler("http");
        QDesktopServices::unsetUrlHandler("https");
    }

public slots:
    void openUrl(const QUrl &url) { opened.append(url); }
};

template <typename T = QWidget> T *visibleChild(const QWidget *root, const QString &name) {
    for (T *child : root->findChildren<T *>(name)) {
        if (child->isVisible())
            return child;
    }
    return nullptr;
}

// Visible as far as `root` goes, so pages under test need not be shown.
inline bool shownIn(const QWidget *root, const QString &name) {
    const auto *widget = root->findChild<QWidget *>(name);
    return widget && widget->isVisibleTo(root);
}

inline QString labelText(const QWidget *root, const QString &name) {
    const auto *label = root->findChild<QLabel *>(name);
    return label ? label->text() : QStringLiteral("<no label %1>").arg(name);
}

inline QStringList labelTexts(const QWidget *root, const QString &name) {
    QStringList texts;
    for (const QLabel *label : root->findChildren<QLabel *>(name))
        texts.append(label->text());
    return texts;
}

// acme/ops chosen, as the wizard leaves it.
inline void chooseRepo(AppState &state) {
    state.setSelectedOrg(GitHubOrg{1, "acme", true});
    state.setRepoName("ops");
}

// The application shell as the screens see it, with a start-at-login entry
// in memory that can be told to refuse.
class FakeShell : public ShellCommands {
public:
    bool on = false;
    bool refuse = false;
    int loginChanges = 0;

    bool startsAtLogin() const override { return on; }
    bool setStartsAtLogin(bool value, QString *error) override {
        ++loginChanges;
        if (refuse) {
            *error = QStringLiteral("the autostart folder is read-only");
            return false;
        }
        on = value;
        return true;
    }
    bool removeDesktopTraces(QString *) override { return true; }
    QString packageRemovalCommand() const override { return {}; }
    void quit() override {}
};
