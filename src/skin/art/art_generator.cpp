// Paints the product's pictures: the main window's face and its region buttons, the push-button
// skin, the splash face and the update wizard's side picture. Run at build time; the PNGs it
// writes are compiled into the program as resources.
#include "skin/skin_layout.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

using SkinLayout::RegionButton;

/// One palette for every picture.
namespace Palette {
const QColor kNavy(0x00, 0x2D, 0x59);  // the splash window's own colour
const QColor kNavyLight(0x0B, 0x3F, 0x73);
const QColor kNavyDeep(0x00, 0x1E, 0x3D);
const QColor kTeal(0x14, 0xA3, 0xB8);
const QColor kTealBright(0x2C, 0xC3, 0xD6);
const QColor kPrimary(0x0B, 0x7C, 0x8F);
const QColor kPrimaryHover(0x0D, 0x90, 0xA5);
const QColor kPrimaryDown(0x07, 0x60, 0x6F);
const QColor kBody(0xED, 0xF1, 0xF5);
const QColor kCardBorder(0xD3, 0xDB, 0xE4);
const QColor kInk(0x16, 0x32, 0x4F);
const QColor kInkMuted(0x5C, 0x6F, 0x82);
const QColor kOnNavyMuted(0xA9, 0xC1, 0xDA);
const QColor kLine(0xB3, 0xC0, 0xCE);
const QColor kDisabledFill(0xF2, 0xF4, 0xF7);
const QColor kDisabledLine(0xD9, 0xDF, 0xE6);
const QColor kDisabledInk(0xA3, 0xAF, 0xBB);
const QColor kDanger(0xE0, 0x45, 0x4B);
const QColor kDangerDown(0xBC, 0x33, 0x39);
/// Key colour of the region-button pictures: cut away by the button's crop outline.
const QColor kKey(0xFF, 0x00, 0xFF);
}  // namespace Palette

enum State { Idle, Hover, Down, Disabled };

QFont uiFont(qreal pixelSize, bool bold = false) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(int(std::lround(pixelSize)));
  font.setBold(bold);
  font.setStyleStrategy(QFont::PreferAntialias);
  font.setHintingPreference(QFont::PreferFullHinting);
  return font;
}

/// Device pixels per drawing unit of the pictures being painted: 1, then 2 for the "@2x" set.
/// Every picture is drawn in the same units at both scales; only the canvas is finer.
int gScale = 1;

QImage canvas(QSize size, const QColor& fill = Qt::transparent) {
  QImage image(size * gScale, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(gScale);
  image.fill(fill);
  return image;
}

void antialias(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
}

/// A soft shadow under a rounded rectangle, built from a few widening translucent outlines.
void softShadow(QPainter& p, const QRectF& r, qreal radius, int depth, int alpha) {
  p.save();
  p.setPen(Qt::NoPen);
  for (int i = depth; i >= 1; --i) {
    QColor c(0x0A, 0x25, 0x40, alpha / i);
    p.setBrush(c);
    p.drawRoundedRect(r.adjusted(-i * 0.6, -i * 0.3, i * 0.6, i * 1.0), radius + i, radius + i);
  }
  p.restore();
}

/// The mark: a disk platter with one sector lit, on a teal tile.
void drawLogo(QPainter& p, const QRectF& box) {
  p.save();
  antialias(p);
  const qreal s = box.width();
  QLinearGradient tile(box.topLeft(), box.bottomRight());
  tile.setColorAt(0, Palette::kTealBright);
  tile.setColorAt(1, Palette::kPrimary);
  p.setPen(Qt::NoPen);
  p.setBrush(tile);
  p.drawRoundedRect(box, s * 0.26, s * 0.26);

  const QPointF c = box.center();
  const qreal outer = s * 0.31, inner = s * 0.13;
  QPainterPath wedge;
  wedge.moveTo(c);
  wedge.arcTo(QRectF(c.x() - outer, c.y() - outer, 2 * outer, 2 * outer), 15, 60);
  wedge.closeSubpath();
  QPainterPath hub;
  hub.addEllipse(c, inner, inner);
  p.setBrush(QColor(255, 255, 255, 235));
  p.drawPath(wedge.subtracted(hub));

  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::white, qMax(1.6, s * 0.06)));
  p.drawEllipse(c, outer, outer);
  p.setPen(QPen(QColor(255, 255, 255, 170), qMax(1.2, s * 0.045)));
  p.drawEllipse(c, inner, inner);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(c, s * 0.035, s * 0.035);
  p.restore();
}

/// Concentric arcs, as a sonar sweeps the deep: the motif of the navy pictures.
void drawSonar(QPainter& p, QPointF centre, qreal from, qreal to, qreal step, int alpha) {
  p.save();
  antialias(p);
  p.setBrush(Qt::NoBrush);
  int i = 0;
  for (qreal r = from; r <= to; r += step, ++i) {
    QColor c = Palette::kTeal;
    c.setAlpha(qMax(6, alpha - i * alpha / 9));
    p.setPen(QPen(c, 1.2));
    p.drawEllipse(centre, r, r);
  }
  p.restore();
}

void drawCentredText(QPainter& p, const QRectF& r, const QString& text, const QFont& font,
                     const QColor& colour) {
  p.setFont(font);
  p.setPen(colour);
  p.drawText(r, Qt::AlignCenter, text);
}

// ---------------------------------------------------------------------------------------------
// Main window

QImage mainFace() {
  const QSize size = SkinLayout::kMainFaceSize;
  QImage image = canvas(size, Palette::kBody);
  QPainter p(&image);
  antialias(p);

  const int header = SkinLayout::kMainHeaderHeight;
  QLinearGradient band(0, 0, 0, header);
  band.setColorAt(0, Palette::kNavyLight);
  band.setColorAt(1, Palette::kNavy);
  p.fillRect(QRect(0, 0, size.width(), header), band);
  // A quiet sonar in the header's right half, behind the round buttons.
  p.save();
  p.setClipRect(QRect(0, 0, size.width(), header));
  drawSonar(p, QPointF(470, 30), 26, 260, 26, 34);
  p.restore();
  QLinearGradient accent(0, 0, size.width(), 0);
  accent.setColorAt(0, Palette::kTeal);
  accent.setColorAt(1, Palette::kTealBright);
  p.fillRect(QRect(0, header, size.width(), 2), accent);

  drawLogo(p, QRectF(18, 12, 36, 36));
  p.setFont(uiFont(17, true));
  p.setPen(Qt::white);
  p.drawText(QPointF(66, 29), QStringLiteral("Ostrel Trawlex Finder"));
  p.setFont(uiFont(11));
  p.setPen(Palette::kOnNavyMuted);
  p.drawText(QPointF(67, 45), QStringLiteral("Disk file recovery"));

  const QRectF page = QRectF(SkinLayout::kMainPagePlace).adjusted(0.5, 0.5, -0.5, -0.5);
  softShadow(p, page, 8, 4, 36);
  p.setPen(QPen(Palette::kCardBorder, 1));
  p.setBrush(Qt::white);
  p.drawRoundedRect(page, 8, 8);

  // A hairline above the navigation row.
  p.setPen(QPen(QColor(0xD9, 0xE0, 0xE8), 1));
  p.drawLine(QPointF(16, 410.5), QPointF(size.width() - 16, 410.5));

  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QPen(Palette::kNavyDeep, 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRect(0, 0, size.width() - 1, size.height() - 1));
  return image;
}

void drawChevron(QPainter& p, QPointF tip, qreal size, bool right, const QColor& colour) {
  p.save();
  p.setPen(QPen(colour, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  const qreal dx = right ? -size * 0.55 : size * 0.55;
  QPainterPath path;
  path.moveTo(tip.x() + dx, tip.y() - size);
  path.lineTo(tip);
  path.lineTo(tip.x() + dx, tip.y() + size);
  p.drawPath(path);
  p.restore();
}

void drawRestartArrow(QPainter& p, QPointF c, qreal r, const QColor& colour) {
  p.save();
  p.setPen(QPen(colour, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  const QRectF box(c.x() - r, c.y() - r, 2 * r, 2 * r);
  p.drawArc(box, 60 * 16, 285 * 16);
  // Arrow head at the arc's start, pointing along the turn.
  const qreal a = qDegreesToRadians(60.0);
  const QPointF end(c.x() + r * std::cos(a), c.y() - r * std::sin(a));
  QPainterPath head;
  head.moveTo(end + QPointF(-4.2, -2.4));
  head.lineTo(end);
  head.lineTo(end + QPointF(-0.6, 4.6));
  p.drawPath(head);
  p.restore();
}

struct FooterLook {
  QColor fill, line, ink;
  bool primary;
};

FooterLook footerLook(bool primary, State state) {
  if (primary) {
    switch (state) {
      case Idle:
        return {Palette::kPrimary, Palette::kPrimary.darker(112), Qt::white, true};
      case Hover:
        return {Palette::kPrimaryHover, Palette::kPrimary, Qt::white, true};
      case Down:
        return {Palette::kPrimaryDown, Palette::kPrimaryDown.darker(110), QColor(0xE6, 0xF4, 0xF6),
                true};
      case Disabled:
        return {QColor(0xD5, 0xDC, 0xE3), QColor(0xCB, 0xD3, 0xDB), QColor(0x8E, 0x9C, 0xAA), true};
    }
  }
  switch (state) {
    case Idle:
      return {Qt::white, Palette::kLine, Palette::kInk, false};
    case Hover:
      return {QColor(0xF0, 0xF8, 0xFA), Palette::kTeal, Palette::kPrimary, false};
    case Down:
      return {QColor(0xDF, 0xED, 0xF1), Palette::kPrimary, Palette::kPrimaryDown, false};
    case Disabled:
      return {Palette::kDisabledFill, Palette::kDisabledLine, Palette::kDisabledInk, false};
  }
  return {};
}

/// A footer button drawn on a transparent layer; its outline is the rounded rectangle.
QImage footerButton(RegionButton which, State state) {
  const QRect place = SkinLayout::regionButtonPlace(which);
  QImage layer = canvas(place.size());
  QPainter p(&layer);
  antialias(p);
  const bool primary = which == RegionButton::Next;
  const FooterLook look = footerLook(primary, state);
  const QRectF body = QRectF(0.5, 0.5, place.width() - 1, place.height() - 2);
  if (state == Idle || state == Hover) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0A, 0x25, 0x40, primary ? 40 : 22));
    p.drawRoundedRect(body.translated(0, 1.2), 8, 8);
  }
  p.setPen(QPen(look.line, 1));
  if (primary && state != Disabled) {
    QLinearGradient g(0, 0, 0, place.height());
    g.setColorAt(0, look.fill.lighter(106));
    g.setColorAt(1, look.fill);
    p.setBrush(g);
  } else {
    p.setBrush(look.fill);
  }
  p.drawRoundedRect(body, 8, 8);

  const qreal shift = state == Down ? 1 : 0;
  const QFont font = uiFont(13.5, true);
  const QFontMetricsF metrics(font);
  QString text;
  switch (which) {
    case RegionButton::Next:
      text = QStringLiteral("Next");
      break;
    case RegionButton::Previous:
      text = QStringLiteral("Previous");
      break;
    default:
      text = QStringLiteral("Restart");
      break;
  }
  const qreal iconWidth = which == RegionButton::Restart ? 14 : 7;
  const qreal gap = 9;
  const qreal textWidth = metrics.horizontalAdvance(text);
  const qreal total = textWidth + gap + iconWidth;
  const qreal left = std::round((place.width() - total) / 2);
  const qreal midY = body.center().y() + shift;
  p.setFont(font);
  p.setPen(look.ink);
  const qreal baseline = std::round(midY + (metrics.ascent() - metrics.descent()) / 2);
  if (which == RegionButton::Next) {
    p.drawText(QPointF(left, baseline), text);
    drawChevron(p, QPointF(left + textWidth + gap + iconWidth, midY), 4.6, true, look.ink);
  } else if (which == RegionButton::Previous) {
    drawChevron(p, QPointF(left, midY), 4.6, false, look.ink);
    p.drawText(QPointF(left + iconWidth + gap, baseline), text);
  } else {
    drawRestartArrow(p, QPointF(left + iconWidth / 2, midY), 5.6, look.ink);
    p.drawText(QPointF(left + iconWidth + gap, baseline), text);
  }
  return layer;
}

QPainterPath gearPath(QPointF c, qreal r) {
  QPainterPath body;
  body.addEllipse(c, r * 0.72, r * 0.72);
  for (int i = 0; i < 8; ++i) {
    QPainterPath tooth;
    tooth.addRoundedRect(QRectF(-r * 0.19, -r, r * 0.38, r * 0.6), r * 0.08, r * 0.08);
    QTransform t;
    t.translate(c.x(), c.y());
    t.rotate(i * 45.0);
    body = body.united(t.map(tooth));
  }
  QPainterPath hole;
  hole.addEllipse(c, r * 0.3, r * 0.3);
  return body.subtracted(hole);
}

/// A round header button on a transparent layer.
QImage headerButton(RegionButton which, State state) {
  const QRect place = SkinLayout::regionButtonPlace(which);
  QImage layer = canvas(place.size());
  QPainter p(&layer);
  antialias(p);
  const bool exit = which == RegionButton::Exit;
  QColor disc(255, 255, 255, 26);
  QColor ink(255, 255, 255, 225);
  switch (state) {
    case Idle:
      break;
    case Hover:
      disc = exit ? Palette::kDanger : QColor(255, 255, 255, 58);
      ink = Qt::white;
      break;
    case Down:
      disc = exit ? Palette::kDangerDown : QColor(0, 0x12, 0x26, 120);
      ink = Qt::white;
      break;
    case Disabled:
      disc = QColor(255, 255, 255, 12);
      ink = QColor(255, 255, 255, 80);
      break;
  }
  const QRectF box = QRectF(0.5, 0.5, place.width() - 1, place.height() - 1);
  p.setPen(QPen(QColor(255, 255, 255, state == Disabled ? 16 : 40), 1));
  p.setBrush(disc);
  p.drawEllipse(box);

  const QPointF c = box.center() + QPointF(0, state == Down ? 1 : 0);
  switch (which) {
    case RegionButton::Settings:
      p.setPen(Qt::NoPen);
      p.setBrush(ink);
      p.drawPath(gearPath(c, 8.5));
      break;
    case RegionButton::Help: {
      QFont font = uiFont(17, true);
      p.setFont(font);
      p.setPen(ink);
      p.drawText(QRectF(c.x() - 16, c.y() - 16, 32, 32).translated(0.5, 0), Qt::AlignCenter,
                 QStringLiteral("?"));
      break;
    }
    default:
      p.setPen(QPen(ink, 2.2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(c + QPointF(-5, -5), c + QPointF(5, 5));
      p.drawLine(c + QPointF(5, -5), c + QPointF(-5, 5));
      break;
  }
  return layer;
}

/// Puts `layer` on the face beneath its place and keys out every unit the idle layer leaves
/// untouched: the crop outline follows the idle shape, every state fills that same outline and
/// the anti-aliased edges blend into the face. `unitIdleLayer` is the idle layer at one pixel a
/// unit, so a fine picture is keyed in whole units, exactly where the button's outline (cut in
/// units) runs, and no key colour shows inside it.
QImage keyedOnFace(const QImage& face, const QRect& place, const QImage& layer,
                   const QImage& unitIdleLayer) {
  const QRect pixels(place.topLeft() * gScale, place.size() * gScale);
  QImage out = face.copy(pixels).convertToFormat(QImage::Format_ARGB32_Premultiplied);
  {
    QPainter p(&out);
    p.drawImage(0, 0, layer);
  }
  out = out.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < out.height(); ++y)
    for (int x = 0; x < out.width(); ++x)
      if (qAlpha(unitIdleLayer.pixel(x / gScale, y / gScale)) == 0)
        out.setPixel(x, y, Palette::kKey.rgb());
  return out;
}

QImage regionButton(const QImage& face, RegionButton which, State state) {
  const QRect place = SkinLayout::regionButtonPlace(which);
  const bool round =
      which == RegionButton::Exit || which == RegionButton::Settings || which == RegionButton::Help;
  auto layer = [&](State s) { return round ? headerButton(which, s) : footerButton(which, s); };
  const int scale = std::exchange(gScale, 1);
  const QImage unitIdle = layer(Idle);
  gScale = scale;
  return keyedOnFace(face, place, layer(state), unitIdle);
}

// ---------------------------------------------------------------------------------------------
// Push-button skin

/// Four bands of 25 rows: normal, hover, pressed, disabled. White corners are flooded with the
/// parent's colour by the button; the middle third is uniform across so that it tiles.
QImage defaultSkin() {
  const QSize size = SkinLayout::kDefaultSkinSize;
  QImage image = canvas(size, Qt::white);
  QPainter p(&image);
  antialias(p);
  const int band = size.height() / 4;
  struct Look {
    QColor top, bottom, line;
  };
  const Look looks[4] = {
      {QColor(0xFC, 0xFD, 0xFE), QColor(0xEA, 0xEF, 0xF4), QColor(0xAE, 0xBB, 0xCA)},
      {QColor(0xF4, 0xFB, 0xFD), QColor(0xDF, 0xF0, 0xF4), Palette::kTeal},
      {QColor(0xD6, 0xE7, 0xED), QColor(0xE6, 0xF1, 0xF4), Palette::kPrimary},
      {QColor(0xF5, 0xF7, 0xF9), QColor(0xF1, 0xF3, 0xF6), QColor(0xD8, 0xDE, 0xE5)},
  };
  for (int b = 0; b < 4; ++b) {
    const QRectF r(0.5, b * band + 0.5, size.width() - 1, band - 1);
    QLinearGradient g(0, r.top(), 0, r.bottom());
    g.setColorAt(0, looks[b].top);
    g.setColorAt(1, looks[b].bottom);
    p.setPen(QPen(looks[b].line, 1));
    p.setBrush(g);
    p.drawRoundedRect(r, 5, 5);
    if (b == 2) {
      // Pressed: a shade along the top edge, as if pushed in.
      p.setPen(QPen(QColor(0x0A, 0x25, 0x40, 28), 1));
      p.drawLine(QPointF(5, b * band + 1.5), QPointF(size.width() - 5, b * band + 1.5));
    }
  }
  p.end();
  return image.convertToFormat(QImage::Format_RGB32);
}

// ---------------------------------------------------------------------------------------------
// Splash and update wizard

QImage splashFace() {
  const QSize size = SkinLayout::kSplashFaceSize;
  QImage image = canvas(size, Palette::kNavy);
  QPainter p(&image);
  antialias(p);
  QLinearGradient sky(0, 0, size.width() * 0.4, size.height());
  sky.setColorAt(0, Palette::kNavyLight);
  sky.setColorAt(0.55, Palette::kNavy);
  sky.setColorAt(1, Palette::kNavyDeep);
  p.fillRect(image.rect(), sky);
  drawSonar(p, QPointF(430, 120), 34, 420, 34, 60);
  // The sweep: a soft wedge from the sonar's centre.
  QPainterPath wedge;
  wedge.moveTo(430, 120);
  wedge.arcTo(QRectF(430 - 300, 120 - 300, 600, 600), 200, 22);
  wedge.closeSubpath();
  QRadialGradient glow(QPointF(430, 120), 300);
  glow.setColorAt(0, QColor(0x2C, 0xC3, 0xD6, 48));
  glow.setColorAt(1, QColor(0x2C, 0xC3, 0xD6, 0));
  p.fillPath(wedge, glow);
  p.setPen(Qt::NoPen);
  p.setBrush(Palette::kTealBright);
  p.drawEllipse(QPointF(430, 120), 3.5, 3.5);

  drawLogo(p, QRectF(36, 56, 64, 64));
  p.setPen(Qt::white);
  p.setFont(uiFont(30, true));
  p.drawText(QPointF(34, 172), QStringLiteral("Ostrel Trawlex"));
  p.setFont(uiFont(30));
  p.drawText(QPointF(34, 208), QStringLiteral("Finder"));
  p.setFont(uiFont(13.5));
  p.setPen(Palette::kOnNavyMuted);
  p.drawText(QPointF(36, 240), QStringLiteral("Finds lost files on your disks, sector by sector."));

  const QRectF card = QRectF(SkinLayout::kSplashCard).adjusted(0.5, 0.5, -0.5, -0.5);
  softShadow(p, card, 10, 5, 60);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawRoundedRect(card, 10, 10);
  QLinearGradient stripe(card.left(), 0, card.right(), 0);
  stripe.setColorAt(0, Palette::kTeal);
  stripe.setColorAt(1, Palette::kTealBright);
  QPainterPath top;
  top.addRoundedRect(card, 10, 10);
  QPainterPath cut;
  cut.addRect(QRectF(card.left(), card.top(), card.width(), 3));
  p.fillPath(top.intersected(cut), stripe);
  p.end();
  return image.convertToFormat(QImage::Format_RGB32);
}

QImage updateSide() {
  const QSize size = SkinLayout::kUpdateSideSize;
  QImage image = canvas(size, Palette::kNavy);
  QPainter p(&image);
  antialias(p);
  QLinearGradient sky(0, 0, 0, size.height());
  sky.setColorAt(0, Palette::kNavyLight);
  sky.setColorAt(1, Palette::kNavyDeep);
  p.fillRect(image.rect(), sky);
  drawSonar(p, QPointF(58, 78), 20, 160, 20, 50);

  // Two arrows chasing each other round a download arrow.
  const QPointF c(58, 78);
  const qreal r = 30;
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Palette::kTealBright, 4, Qt::SolidLine, Qt::RoundCap));
  const QRectF ring(c.x() - r, c.y() - r, 2 * r, 2 * r);
  p.drawArc(ring, 20 * 16, 140 * 16);
  p.drawArc(ring, 200 * 16, 140 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(Palette::kTealBright);
  for (qreal a : {20.0, 200.0}) {
    const qreal rad = qDegreesToRadians(a);
    const QPointF end(c.x() + r * std::cos(rad), c.y() - r * std::sin(rad));
    const QPointF along(std::sin(rad), std::cos(rad));  // clockwise tangent
    const QPointF out(std::cos(rad), -std::sin(rad));
    QPolygonF head;
    head << end + along * 7 << end - out * 6.5 - along * 1 << end + out * 6.5 - along * 1;
    p.drawPolygon(head);
  }
  p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(c + QPointF(0, -13), c + QPointF(0, 10));
  QPainterPath arrow;
  arrow.moveTo(c + QPointF(-9, 2));
  arrow.lineTo(c + QPointF(0, 11));
  arrow.lineTo(c + QPointF(9, 2));
  p.setBrush(Qt::NoBrush);
  p.drawPath(arrow);

  p.setPen(Qt::white);
  drawCentredText(p, QRectF(0, 136, size.width(), 22), QStringLiteral("Live Update"),
                  uiFont(14, true), Qt::white);
  drawCentredText(p, QRectF(0, 158, size.width(), 18), QStringLiteral("Ostrel Trawlex Finder"),
                  uiFont(9.5), Palette::kOnNavyMuted);
  p.end();
  return image.convertToFormat(QImage::Format_RGB32);
}

bool save(const QImage& image, const QDir& dir, const QString& name) {
  const QString path = dir.filePath(name);
  if (!image.save(path, "PNG")) {
    std::fprintf(stderr, "skin_artgen: cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

/// The sizes of the application icon in the desktop's hicolor theme.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256, 512};

/// The application icon at `size` pixels: the product logo filling the square, with a
/// margin that grows with the size as the desktop's icons have.
QImage appIcon(int size) {
  QImage image = canvas(QSize(size, size));
  QPainter p(&image);
  const qreal margin = size <= 24 ? 0 : size / 16.0;
  drawLogo(p, QRectF(margin, margin, size - 2 * margin, size - 2 * margin));
  p.end();
  return image;
}

/// Writes SIZExSIZE/trawlex-finder.png for every icon size under `out`.
bool saveIcons(const QDir& out) {
  bool ok = true;
  for (const int size : kIconSizes) {
    const QString folder = QStringLiteral("%1x%1").arg(size);
    ok = QDir().mkpath(out.filePath(folder)) &&
         save(appIcon(size), QDir(out.filePath(folder)), QStringLiteral("trawlex-finder.png")) &&
         ok;
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--icons") == 0) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return saveIcons(QDir(QString::fromLocal8Bit(argv[2]))) ? 0 : 1;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: skin_artgen OUTPUT_FOLDER | skin_artgen --icons OUTPUT_FOLDER\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!QDir().mkpath(out.path())) return 1;

  bool ok = true;
  for (const int scale : {1, 2}) {
    gScale = scale;
    const QString suffix = scale == 1 ? QString() : QStringLiteral("@%1x").arg(scale);
    auto name = [&](const QString& base) { return base + suffix + QStringLiteral(".png"); };
    const QImage face = mainFace();
    ok = save(face.convertToFormat(QImage::Format_RGB32), out, name(QStringLiteral("main_face"))) &&
         ok;
    for (RegionButton which : SkinLayout::kRegionButtons) {
      for (int state = 0; state < 4; ++state) {
        const QString base =
            QStringLiteral("%1_%2").arg(QLatin1String(SkinLayout::regionButtonName(which)),
                                        QLatin1String(SkinLayout::kStateNames[size_t(state)]));
        ok = save(regionButton(face, which, State(state)), out, name(base)) && ok;
      }
    }
    ok = save(defaultSkin(), out, name(QStringLiteral("DEFAULT_SKIN"))) && ok;
    ok = save(splashFace(), out, name(QStringLiteral("splash_face"))) && ok;
    ok = save(updateSide(), out, name(QStringLiteral("update_side"))) && ok;
  }
  return ok ? 0 : 1;
}
