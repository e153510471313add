#pragma once

#include <QFont>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

class QLabel;
class QWidget;

// Whether the fixed captions of the two forms fit their widgets with the
// fonts in use. The forms keep the pixel rectangles they were drawn with for
// the Windows dialog font; other platforms' default fonts are larger, so the
// program picks, at start-up, the largest font size not above the platform's
// default at which every caption fits.
namespace CaptionFit {

// One fixed caption: a label's text, a button's or check box's text, or a
// group box title, with the room it has and the room it needs.
struct Caption
{
    QWidget* widget = nullptr;
    QString text;      // as shown: mnemonic marks removed
    QRect textSpace;   // widget coordinates; short of any overlapping sibling
    QSize needed;      // the text in the widget's font (group box: its title area)
    int textLeft = 0;  // where the text starts, by its alignment
    // The text lies inside textSpace, from textLeft on.
    bool fits() const;
};

// Every caption of root and its descendants, measured with the fonts they
// have now. Empty texts and labels registered by showTextAsToolTip (texts
// that grow with data) are left out.
QList<Caption> measure(QWidget* root);

// The captions of root that do not fit, as "objectName \"text\": needs WxH, has WxH".
QStringList overflows(QWidget* root);

// The largest size of base (point size in steps of half a point, or pixel
// size in steps of one pixel), not above base's own, at which every caption
// of both forms fits; builds both forms hidden to measure them. If none fits
// down to 6 points, the smallest size tried.
QFont fittingFont(const QFont& base);

// Sets the application font to fittingFont(QApplication::font()) and
// reports the choice on the debug output. Called once, after the
// application object exists and before any window is built.
void fitApplicationFont();

// Keeps each label's tool tip equal to its whole text, for texts that grow
// with data and may be longer than their label.
void showTextAsToolTip(const QList<QLabel*>& labels);

}  // namespace CaptionFit
