#pragma once

#include <QPointer>
#include <QWidget>

class QAction;
class QPushButton;

// The centred "+" row of a menu. Its button closes the menu first (with every menu above it that
// is its parent widget), then runs the row's menu item when that is enabled.
class VintrelleCenteredAddRow : public QWidget
{
    Q_OBJECT

public:
    explicit VintrelleCenteredAddRow(QWidget *parent = nullptr);

    QPushButton *button() const { return m_button; }
    QAction *menuItem() const { return m_menuItem; }
    void setMenuItem(QAction *item) { m_menuItem = item; }

    void activate();

private:
    QPushButton *m_button;
    QPointer<QAction> m_menuItem;
};
