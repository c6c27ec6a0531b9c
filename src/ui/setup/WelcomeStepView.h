#pragma once

#include "UiContext.h"

#include <QWidget>

// The first wizard screen: the product, and on whose behalf it is being set
// up. Choosing a role moves on to the GitHub step.
class WelcomeStepView : public QWidget {
    Q_OBJECT

public:
    explicit WelcomeStepView(const UiContext &context, QWidget *parent = nullptr);

private:
    UiContext m_context;
};
