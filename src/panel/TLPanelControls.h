#pragma once
#include "format/TLColor.h"

#include <QAbstractButton>
#include <QList>
#include <QPainterPath>
#include <QString>
#include <QWidget>

class QButtonGroup;

// The small standard controls of the panel, drawn by the panel itself so that they look the same
// on every desktop and follow the panel's light or dark appearance (TLEffectiveAppearance).

// A horizontal hairline in the separator colour, as wide as the widget and 1 point high.
class TLSeparatorLine : public QWidget {
    Q_OBJECT
public:
    explicit TLSeparatorLine(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {1, 1}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The caption of one legend line: a bullet "●" in the category's colour at size 9, two spaces,
// then the category name in the secondary label colour at size 11.5; both runs sit on one
// baseline, like one attributed string.
class TLLegendCaption : public QWidget {
    Q_OBJECT
public:
    TLLegendCaption(const QString& name, const TLColor& color, QWidget* parent = nullptr);

    // The whole text, bullet and spaces included: "●  App 内存".
    QString text() const;
    const QString& name() const { return _name; }
    const TLColor& color() const { return _color; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString _name;
    TLColor _color;
};

// Geometry shared by the panel's buttons and tab control (the small control size).
inline constexpr int TLSmallControlHeight = 20;
inline constexpr qreal TLSmallControlRadius = 5;
inline constexpr qreal TLSmallControlFontSize = 11;

// A push button with a rounded bezel: a title, or the action (gear) image when the title is
// empty. Clicking it emits clicked() like any button.
class TLBezelButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Image { None, Action };
    explicit TLBezelButton(const QString& title, QWidget* parent = nullptr);
    explicit TLBezelButton(Image image, QWidget* parent = nullptr);

    Image image() const { return _image; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    Image _image = Image::None;
};

// The outline of the action image (a gear with eight teeth and a round hole) in a square box of
// the given side, centred in it; filled with the odd-even rule.
QPainterPath TLActionImagePath(qreal side);

// A two-or-more-segment control with exactly one segment selected, the segments sharing the
// width equally. A click on a segment selects it and emits segmentClicked; setSelectedSegment
// selects without emitting anything.
class TLSegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit TLSegmentedControl(const QStringList& labels, QWidget* parent = nullptr);

    int segmentCount() const { return static_cast<int>(_segments.size()); }
    QString label(int segment) const;
    QAbstractButton* segment(int segment) const;

    // The selected segment, -1 when none is.
    int selectedSegment() const;
    // Selects a segment; an index out of range leaves the selection as it is.
    void setSelectedSegment(int segment);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The user clicked a segment (also the selected one); it is selected by then.
    void segmentClicked(int segment);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutSegments();

    QList<QAbstractButton*> _segments;
    QButtonGroup* _group;
};
