#pragma once
#include <QIcon>
#include <QList>
#include <QPixmap>

#include <functional>

// An icon of fixed pictures, for a picture that is replaced often: the status item's, at every
// change of its figures. An icon Qt makes of pixmaps (QIcon::addPixmap) puts every pixmap it
// hands out into the application's pixmap cache, keyed by that pixmap, where it outlives the
// icon: a tray that asks for a picture at each change kept every replaced picture, up to the
// cache's 10 MB. This icon hands out its own pictures, or a picture scaled down for a smaller
// size, and keeps none of them anywhere else.
//
// It picks as Qt's does: the smallest picture at least as large (by area) as the size asked for,
// else the largest, scaled down to fit when larger. Its sizes are those of the pictures, in the
// order given; every mode and state shows the same pictures.
QIcon TLPictureIcon(QList<QPixmap> pictures);

// The same, for a picture that can be drawn at any size: a square asked for at a side none of the
// pictures has (a tray at 150 % asks for 33 px) is drawn at that side by `drawSquare` rather
// than scaled from a neighbour, which blurs its figures beside the desktop's sharp icons. The
// pictures drawn so are kept nowhere.
QIcon TLPictureIcon(QList<QPixmap> pictures, std::function<QPixmap(int side)> drawSquare);

// Whether the running Qt hands QIconEngine::scaledPixmap the size in device pixels (up to 6.7:
// 48 × 22 for 24 × 11 at 2x) rather than in device-independent pixels (from 6.8 on: 24 × 11).
// Asked once of the Qt the program runs on, rather than of the one it was built against.
bool TLScaledPixmapSizeIsInDevicePixels();
