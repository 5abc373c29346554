#pragma once
#include <QFont>
#include <QLabel>
#include <QStaticText>

#include <optional>

// A label for one line of plain text that lays its text out once per change instead of on every
// paint and every size query. The panel changes its figures and rows on every tick; shaping the
// same text again for each paint, for the layout's size hint and for the row's measuring was the
// largest part of that work. Anything else (rich text, wrapping, several lines, margins, a frame)
// is measured and painted by QLabel as usual.
class TLTextLabel : public QLabel {
public:
    using QLabel::QLabel;

    // The width of the text as laid out; 0 for no text.
    qreal textWidth() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // True when the text is one plain line that this class lays out itself.
    bool isSimpleLine() const;
    // The laid-out text, laid out again if the text or font changed since.
    const QStaticText& laidOut() const;
    // The size QLabel gives a single line, from the laid-out text; nullopt where QLabel's own
    // rules apply.
    std::optional<QSize> simpleSizeHint() const;

    mutable QStaticText _laidOut;
    mutable QFont _laidOutFont;
};
