#pragma once

// The name prompt's window: a dark floating panel with a title, one text field, "Cancel" and a
// primary "Save". It only reports what the user does; the prompt decides what that means.

#include "VintrelleWindowDrag.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

class VintrelleNamePanel : public QWidget
{
    Q_OBJECT

public:
    static constexpr int panelWidth = 300;
    static constexpr int panelHeight = 132;
    static constexpr int dragStripHeight = 24;

    VintrelleNamePanel();

    QLineEdit *field() const { return m_field; }
    QPushButton *saveButton() const { return m_save; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *closeButton() const { return m_close; }

signals:
    void saveRequested();
    void cancelRequested(); // Escape, "Cancel", the close button or the window manager's close
    void moved();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QLabel *m_title;
    QLineEdit *m_field;
    QPushButton *m_save;
    QPushButton *m_cancel;
    QPushButton *m_close;
    VintrelleWindowDrag m_drag;
};
