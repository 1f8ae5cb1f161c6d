#include "VintrelleCenteredAddRow.h"

#include <QAction>
#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>

VintrelleCenteredAddRow::VintrelleCenteredAddRow(QWidget *parent)
    : QWidget(parent)
    , m_button(new QPushButton(QStringLiteral("+"), this))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_button);
    m_button->setFlat(true);
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_button->setAccessibleName(QStringLiteral("Add plug-in"));
    QFont font = m_button->font();
    font.setPixelSize(13);
    font.setWeight(QFont::Medium);
    m_button->setFont(font);
    connect(m_button, &QPushButton::clicked, this, &VintrelleCenteredAddRow::activate);
}

void VintrelleCenteredAddRow::activate()
{
    // The top-most menu above the row: sub-menus are children of the menu they open from.
    QWidget *menu = qobject_cast<QMenu *>(window());
    for (QWidget *above = menu ? menu->parentWidget() : nullptr; above; above = above->parentWidget())
        if (auto *parentMenu = qobject_cast<QMenu *>(above->window()))
            menu = parentMenu;
    if (menu)
        menu->close();
    if (m_menuItem && m_menuItem->isEnabled())
        m_menuItem->trigger();
}
