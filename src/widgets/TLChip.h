#pragma once
#include "format/TLColor.h"

#include <QSizeF>
#include <QWidget>

#include <optional>

class QLabel;

// A small rounded badge: a short text in a colour on a pale background of the same colour (the
// pressure state in the panel's header). It is 16 points high and as wide as its text plus 7 on
// each side; before the first setText it is empty and invisible (14 × 16).

inline constexpr qreal TLChipCornerRadius = 7;
inline constexpr qreal TLChipHeight = 16;
inline constexpr qreal TLChipInset = 7;
inline constexpr qreal TLChipBackgroundAlpha = 0.16;
inline constexpr qreal TLChipFontSize = 10.5;

// The chip's size for a label of the given natural width.
QSizeF TLChipSize(qreal labelWidth);

class TLChip : public QWidget {
    Q_OBJECT
public:
    explicit TLChip(QWidget* parent = nullptr);

    // The chip's only child, showing the text (system font 10.5, semibold).
    QLabel* label() const { return _label; }

    // Sets the text and its colour, and the background to the same colour at alpha 0.16 (the
    // alpha replaces the colour's own). The chip's width follows the text.
    void setText(const QString& text, const TLColor& color);

    // The background colour, once setText has given one.
    std::optional<TLColor> backgroundColor() const { return _background; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    qreal labelWidth() const;
    void layoutLabel();

    QLabel* _label;
    std::optional<TLColor> _background;
};
