#pragma once

#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <array>
#include <optional>

// The welcome window's background: a nine-colour gradient that drifts and four glowing shapes
// that flow over it, with rounded corners. It moves only between start() and stop() and never
// while hidden; with reduced motion it shows the still picture. The shapes are drawn once per
// size into pixmaps, so a frame is one gradient fill and four pixmap draws.
class VintrelleWelcomeArt : public QWidget
{
    Q_OBJECT

public:
    static constexpr int frameInterval = 16; // milliseconds, about 60 frames a second
    static constexpr qreal cornerRadius = 8;

    explicit VintrelleWelcomeArt(QWidget *parent = nullptr);

    void start();
    void stop();
    bool isAnimating() const { return m_frameTimer.isActive(); }

    bool reducedMotion() const { return m_reducedMotion; }
    void setReducedMotion(bool reduced);

    // Seconds since start(); none while still.
    std::optional<double> animationSeconds() const;

    // Rounded corners see through to the desktop; without a compositor the window's mask cuts them.
    void setTranslucentCorners(bool translucent);

protected:
    void paintEvent(QPaintEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void prepareShapes();

    QTimer m_frameTimer;
    QElapsedTimer m_clock;
    bool m_reducedMotion = false;
    bool m_translucentCorners = false;
    QSize m_preparedSize; // of the shapes and the corner below
    std::array<QPixmap, 4> m_shapes;
    QPixmap m_corner; // the top-left corner's coverage, turned for the other three
};
