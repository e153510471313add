#include "ui/captionfit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDebug>
#include <QDialog>
#include <QEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>

#include "ui_mainwindow.h"
#include "ui_setupdialog.h"

#include <cmath>

namespace CaptionFit {

namespace {

const char growingTextProperty[] = "corveltaGrowingText";

QString withoutMnemonics(QString text)
{
    text.replace(QLatin1String("&&"), QLatin1String("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

// The size the text takes in the widget's font, line by line; a line is as
// wide as its advance or its ink, whichever reaches further.
QSize textSize(const QFontMetrics& fm, const QString& text)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    int width = 0;
    for (const QString& line : lines)
        width = qMax(width, qMax(fm.horizontalAdvance(line), fm.boundingRect(line).right() + 1));
    return {width, fm.height() + (lines.size() - 1) * fm.lineSpacing()};
}

// Where the text of a label, button or check box may go, in widget
// coordinates, before neighbours are considered.
QRect textSpaceOf(QWidget* widget, const QString& text, const QFontMetrics& fm)
{
    QStyle* style = widget->style();
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        QRect r = label->contentsRect();
        const int m = label->margin();
        r.adjust(m, m, -m, -m);
        int indent = label->indent();
        if (indent < 0 && label->frameWidth() > 0)
            indent = fm.horizontalAdvance(QLatin1Char('x')) / 2;
        if (indent > 0 && (label->alignment() & Qt::AlignLeft))
            r.setLeft(r.left() + indent);
        return r;
    }
    if (qobject_cast<QCheckBox*>(widget) || qobject_cast<QRadioButton*>(widget)) {
        QStyleOptionButton opt;
        opt.initFrom(widget);
        opt.text = text;
        const auto element =
            qobject_cast<QCheckBox*>(widget) ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents;
        return style->subElementRect(element, &opt, widget);
    }
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        QStyleOptionButton opt;
        opt.initFrom(widget);
        opt.text = text;
        if (button->autoDefault())
            opt.features |= QStyleOptionButton::AutoDefaultButton;
        // Text flush against the frame reads as cut: keep the style's button
        // margin free on both sides.
        const int pad = style->pixelMetric(QStyle::PM_ButtonMargin, &opt, widget) / 2;
        QRect r = style->subElementRect(QStyle::SE_PushButtonContents, &opt, widget).adjusted(pad, 0, -pad, 0);
        // An icon (OK and Cancel have one on some desktops) goes before the
        // text, four pixels apart, as the common style draws it.
        if (!button->icon().isNull())
            r.setLeft(r.left() + button->iconSize().width() + 4);
        return r;
    }
    return widget->rect();
}

// Cuts space (in widget coordinates) short of the parent's edge and of every
// sibling that overlaps the widget from the right, and of every other sibling
// but a label (labels paint only their text, which is measured in turn) that
// overlaps it from the left (the "-->>VAR" labels overlap the combo boxes and
// ticker edits by a pixel or three) or from below.
QRect shortOfNeighbours(QWidget* widget, QRect space)
{
    QWidget* parent = widget->parentWidget();
    if (!parent || widget->isWindow())
        return space;
    const QRect own = widget->geometry();
    space.setRight(qMin(space.right(), parent->width() - own.left() - 1));
    for (QObject* object : parent->children()) {
        auto* sibling = qobject_cast<QWidget*>(object);
        if (!sibling || sibling == widget || sibling->isWindow() || sibling->isHidden())
            continue;
        const QRect other = sibling->geometry().translated(-own.topLeft());
        if (!other.intersects(space))
            continue;
        if (other.left() > space.left())
            space.setRight(other.left() - 1);
        else if (qobject_cast<QLabel*>(sibling))
            continue;
        else if (other.right() < space.right())
            space.setLeft(other.right() + 1);
        else if (other.top() > space.top())
            space.setBottom(other.top() - 1);
    }
    return space;
}

// Where a text of the given width starts in space, by its alignment.
int alignedLeft(const QRect& space, int width, Qt::Alignment alignment)
{
    if (alignment & Qt::AlignHCenter)
        return space.left() + (space.width() - width) / 2;
    if (alignment & Qt::AlignRight)
        return space.right() + 1 - width;
    return space.left();
}

Caption groupBoxTitle(QGroupBox* box)
{
    QStyleOptionGroupBox opt;
    opt.initFrom(box);
    opt.text = box->title();
    opt.lineWidth = 1;
    opt.midLineWidth = 0;
    opt.textAlignment = box->alignment();
    opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    if (box->isCheckable())
        opt.subControls |= QStyle::SC_GroupBoxCheckBox;
    if (box->isFlat())
        opt.features |= QStyleOptionFrame::Flat;
    // The style sizes the title area to the title (in the font it draws it
    // with); it must end inside the box's right border and above the first
    // child below it.
    const QRect title = box->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, box);
    int bottom = box->height() - 1;
    for (QObject* object : box->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (child && !child->isWindow() && !child->isHidden() && child->geometry().left() <= title.right() &&
            child->geometry().right() >= title.left())
            bottom = qMin(bottom, child->geometry().top() - 1);
    }
    Caption c;
    c.widget = box;
    c.text = withoutMnemonics(box->title());
    c.textSpace = QRect(QPoint(title.left(), title.top()), QPoint(box->width() - 2, bottom));
    c.needed = title.size();
    c.textLeft = title.left();
    return c;
}

// Both forms, built hidden, so that their captions can be measured in a font.
struct HiddenForms
{
    QMainWindow window;
    Ui::MainWindow windowForm;
    QDialog dialog;
    Ui::SetupDialog dialogForm;
    HiddenForms()
    {
        windowForm.setupUi(&window);
        dialogForm.setupUi(&dialog);
    }
    void setFont(const QFont& font)
    {
        window.setFont(font);
        dialog.setFont(font);
        // Laid-out children (the dialog's OK and Cancel) take the sizes the
        // new font gives them.
        for (QWidget* root : {static_cast<QWidget*>(&window), static_cast<QWidget*>(&dialog)})
            for (QLayout* layout : root->findChildren<QLayout*>())
                layout->activate();
    }
    bool allFit() { return overflows(&window).isEmpty() && overflows(&dialog).isEmpty(); }
};

class TextToolTip : public QObject
{
public:
    explicit TextToolTip(QLabel* label)
        : QObject(label)
        , label(label)
    {
        label->installEventFilter(this);
        label->setToolTip(label->text());
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Brought up to date just before the tool tip shows: the texts are
        // set all over the program, and a label announces no change.
        if (watched == label && event->type() == QEvent::ToolTip)
            label->setToolTip(label->text());
        return false;
    }

private:
    QLabel* label;
};

}  // namespace

bool Caption::fits() const
{
    return textLeft >= textSpace.left() && textLeft + needed.width() - 1 <= textSpace.right() &&
           needed.height() <= textSpace.height();
}

QList<Caption> measure(QWidget* root)
{
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    QList<Caption> captions;
    for (QWidget* widget : widgets) {
        if (auto* box = qobject_cast<QGroupBox*>(widget)) {
            if (!box->title().isEmpty())
                captions << groupBoxTitle(box);
            continue;
        }
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            if (label->property(growingTextProperty).toBool())
                continue;
            text = label->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            text = withoutMnemonics(button->text());
        }
        if (text.isEmpty())
            continue;
        const QFontMetrics fm(widget->font());
        Caption c;
        c.widget = widget;
        c.text = text;
        const QRect own = textSpaceOf(widget, text, fm);
        c.needed = textSize(fm, text);
        // Labels follow their alignment, buttons centre their text, check
        // boxes start it after the indicator.
        Qt::Alignment alignment = Qt::AlignLeft;
        if (auto* label = qobject_cast<QLabel*>(widget))
            alignment = label->alignment();
        else if (qobject_cast<QPushButton*>(widget))
            alignment = Qt::AlignHCenter;
        c.textLeft = alignedLeft(own, c.needed.width(), alignment);
        c.textSpace = shortOfNeighbours(widget, own);
        captions << c;
    }
    return captions;
}

QStringList overflows(QWidget* root)
{
    QStringList result;
    for (const Caption& c : measure(root)) {
        if (!c.fits())
            result << QString("%1 \"%2\": needs %3x%4 from x %5, has %6x%7 from x %8")
                          .arg(c.widget->objectName(), c.text)
                          .arg(c.needed.width())
                          .arg(c.needed.height())
                          .arg(c.textLeft)
                          .arg(c.textSpace.width())
                          .arg(c.textSpace.height())
                          .arg(c.textSpace.left());
    }
    return result;
}

QFont fittingFont(const QFont& base)
{
    HiddenForms forms;
    QFont font = base;
    if (base.pointSizeF() > 0) {
        // Whole half points from the default down; the default itself first.
        qreal size = base.pointSizeF();
        for (;;) {
            font.setPointSizeF(size);
            forms.setFont(font);
            if (forms.allFit())
                return font;
            const qreal next = std::ceil(size * 2 - 1) / 2;
            if (next < 6)
                return font;
            size = next;
        }
    }
    for (int size = base.pixelSize(); size > 0; --size) {
        font.setPixelSize(size);
        forms.setFont(font);
        if (forms.allFit() || size <= 8)
            break;
    }
    return font;
}

void fitApplicationFont()
{
    const QFont platform = QApplication::font();
    const QFont chosen = fittingFont(platform);
    QApplication::setFont(chosen);
    qDebug().noquote() << QString("Application font: %1 %2 (platform default %3)")
                              .arg(QFontInfo(chosen).family(),
                                   chosen.pointSizeF() > 0 ? QString("%1 pt").arg(chosen.pointSizeF())
                                                           : QString("%1 px").arg(chosen.pixelSize()),
                                   platform.pointSizeF() > 0 ? QString("%1 pt").arg(platform.pointSizeF())
                                                             : QString("%1 px").arg(platform.pixelSize()));
}

void showTextAsToolTip(const QList<QLabel*>& labels)
{
    for (QLabel* label : labels) {
        label->setProperty(growingTextProperty, true);
        new TextToolTip(label);
    }
}

}  // namespace CaptionFit
