#pragma once

#include <QPixmap>
#include <QPushButton>

// A borderless, see-through button with a white title that brightens under the pointer. Its
// soft shadow falls outside its own bounds, so the view behind it draws it (shadow()).
class VintrelleGlassButton : public QPushButton
{
    Q_OBJECT

public:
    static constexpr int shadowBlur = 6;   // pixels
    static constexpr int shadowOffset = 2; // pixels downwards
    static constexpr double shadowOpacity = 0.16;

    explicit VintrelleGlassButton(const QString &title = {}, QWidget *parent = nullptr);

    // The shadow for the button's current size, drawn once per size. It is to be drawn with its
    // top-left corner at shadowOrigin() in the button's parent.
    const QPixmap &shadow() const;
    QPoint shadowOrigin() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    mutable QPixmap m_shadow;
};
