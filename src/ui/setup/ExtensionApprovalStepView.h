#pragma once

#include "UiContext.h"

#include <QWidget>

// Explains the operating system's approval of the file-protection
// extension; reached only from the step indicator.
class ExtensionApprovalStepView : public QWidget {
    Q_OBJECT

public:
    explicit ExtensionApprovalStepView(const UiContext &context, QWidget *parent = nullptr);

private:
    UiContext m_context;
};
