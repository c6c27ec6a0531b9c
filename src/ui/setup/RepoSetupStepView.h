#pragma once

#include "UiContext.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
namespace Widgets {
class SymbolView;
}

// Names the ops repository: a new one to create or an existing one. Only
// records the name; the protection run settles whether it exists.
class RepoSetupStepView : public QWidget {
    Q_OBJECT

public:
    explicit RepoSetupStepView(const UiContext &context, QWidget *parent = nullptr);

    bool createNew() const { return m_createNew; }

private:
    QWidget *buildOptions();
    QWidget *buildOrganisationLine(QWidget *parent);
    QWidget *buildNewRepositoryFields(QWidget *parent);
    QWidget *buildNavigation();
    void setCreateNew(bool createNew);
    void render();
    QString chosenName() const;
    void continueToProtections();

    UiContext m_context;
    bool m_createNew = true;
    QWidget *m_organisationRow;
    QLabel *m_organisationLogin;
    Widgets::SymbolView *m_createMark;
    Widgets::SymbolView *m_existingMark;
    QWidget *m_newRepository;
    QLabel *m_prefix;
    QLineEdit *m_repoNameInput;
    QWidget *m_existingRepository;
    QLineEdit *m_existingRepoSearch;
    QPushButton *m_continue;
};
