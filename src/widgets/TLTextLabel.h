#pragma once
#include <QFont>
#include <QLabel>
#include <QStaticText>

// A label for one line of plain text that lays its text out once per change instead of on every
// paint. The panel repaints its figures and rows on every tick, and shaping the same text again
// for each paint was the largest part of that work. Anything else (rich text, wrapping, several
// lines) is painted by QLabel as usual.
class TLTextLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QStaticText _laidOut;
    QFont _laidOutFont;
};
