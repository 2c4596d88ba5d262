// SPDX-License-Identifier: MIT
// The setup window's controls: where each stands, its caption, font and
// first state, and the keyboard order.

#include "ui/accessibility.h"
#include "ui/fonts.h"
#include "ui/frmpicoptions.h"
#include "ui/scalebox.h"
#include "ui/shape.h"
#include "ui/sstab.h"
#include "ui/twips.h"

#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

// The raw view is a diagnostic glance, not a log: the newest lines do.
constexpr int RawViewMaxLines = 1000;
constexpr int TabCount = 3; // both encoders' and "Inputs / Outputs", in one row
constexpr int TabRowHeight = 40;

const QColor KeypadFace(192, 192, 192);

QPushButton* makeButton(
    const QString& name, const QString& caption, const QRect& geometry, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    // Enter in a box must not press anything; Enter on the button itself
    // does (pressFocusedButtonOnEnter).
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QLabel* makeLabel(const QString& name, const QString& caption, const QRect& geometry,
    Qt::Alignment alignment, QWidget* parent)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setAlignment(alignment | Qt::AlignTop);
    return label;
}

} // namespace

void frmPicOptions::buildLayout()
{
    setFixedSize(px(7230), px(5265));
    setFont(sansSerif(8.25));

    SSTab1 = new SSTab(TabCount, TabRowHeight, this);
    SSTab1->setObjectName(u"SSTab1"_s);
    SSTab1->setGeometry(twips(120, 120, 3015, 3735));
    SSTab1->tabBar()->setFont(arial(9));
    // Every tab first: the pages' controls are placed from the finished
    // tab control.
    for (int tab = 0; tab < TabCount; ++tab) {
        const std::optional<Encoder> encoder = encoderForTab(tab);
        SSTab1->addTab(new QWidget(SSTab1),
            encoder ? u"Encoder %1"_s.arg(encoderRow(*encoder).number) : u"Inputs / Outputs"_s);
    }
    for (const EncoderRow& encoder : Encoders)
        buildEncoderPage(SSTab1->widget(encoder.tab), encoder);
    buildInputsPage(SSTab1->widget(InputsTab));
    SSTab1->setCurrentIndex(0);

    Label11 = new QLabel(u"Raw Receive:"_s, this);
    Label11->setObjectName(u"Label11"_s);
    Label11->setGeometry(twips(120, 3900, 1695, 195));
    Label11->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(u"Text1"_s);
    Text1->setGeometry(twips(120, 4140, 3015, 915));
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text1->setMaximumBlockCount(RawViewMaxLines);
    Text1->setUndoRedoEnabled(false);
    // Tab moves on to the next control, as everywhere else in the window.
    Text1->setTabChangesFocus(true);

    buildKeypad();

    cmdOK = makeButton(u"cmdOK"_s, u"OK"_s, twips(3300, 4500, 1095, 555), this);
    cmdCancel = makeButton(u"cmdCancel"_s, u"Cancel"_s, twips(4620, 4500, 1140, 555), this);
    cmdApply = makeButton(u"cmdApply"_s, u"Apply"_s, twips(6000, 4500, 1095, 555), this);
    cmdApply->setEnabled(false);

    nameForScreenReaders();
}

const frmPicOptions::EncoderControls& frmPicOptions::controlsOf(Encoder encoder)
{
    using F = frmPicOptions;
    // The second encoder's scale rows stand 15 twips further left.
    static constexpr std::array<EncoderControls, 2> Controls { {
        { &F::Frame1, &F::Label1, &F::lblScale3, &F::Label2, &F::txtScale3, &F::Frame2,
            &F::lblCounter3, &F::cmdZeroCounter3, 480, 1320 },
        { &F::Frame4, &F::Label5, &F::lblScale4, &F::Label4, &F::txtScale4, &F::Frame3,
            &F::lblCounter4, &F::cmdZeroCounter4, 465, 1305 },
    } };
    return Controls[encoderIndex(encoder)];
}

void frmPicOptions::buildEncoderPage(QWidget* page, const EncoderRow& encoder)
{
    // The tab control's own corner, row of tabs included, is where the
    // page controls are measured from.
    const QPoint origin = SSTab1->pageOrigin();
    const auto inTab = [&](int left, int top, int width, int height) {
        return twips(left, top, width, height).translated(-origin);
    };
    const EncoderRow::Controls& names = encoder.controls;
    const EncoderControls& members = controlsOf(encoder.encoder);
    const int labelLeft = members.labelLeft;
    const int valueLeft = members.valueLeft;

    // Each control of the page lands in its own member for this encoder.
    QGroupBox*& scaleFrame = this->*members.scaleFrame;
    QLabel*& current = this->*members.current;
    QLabel*& scale = this->*members.scale;
    QLabel*& changeTo = this->*members.changeTo;
    ScaleBox*& box = this->*members.scaleBox;
    QGroupBox*& positionFrame = this->*members.positionFrame;
    QLabel*& counter = this->*members.position;
    QPushButton*& zero = this->*members.zero;

    scaleFrame = new QGroupBox(u"Scale Factor:"_s, page);
    scaleFrame->setObjectName(names.scaleFrame.toString());
    scaleFrame->setGeometry(inTab(120, 720, 2775, 1215));

    current = makeLabel(names.current.toString(), u"Current:"_s, twips(labelLeft, 300, 795, 255),
        Qt::AlignRight, scaleFrame);
    scale = makeLabel(names.scale.toString(), u"2540.12"_s, twips(valueLeft, 240, 1035, 315),
        Qt::AlignHCenter, scaleFrame);
    scale->setFont(sansSerif(12));
    changeTo = makeLabel(names.changeTo.toString(), u"Change to:"_s,
        twips(labelLeft, 660, 795, 255), Qt::AlignRight, scaleFrame);
    box = new ScaleBox(scaleFrame);
    box->setObjectName(names.scaleBox.toString());
    box->setGeometry(twips(valueLeft, 600, 1035, 330));
    box->setFont(sansSerif(12));

    positionFrame = new QGroupBox(u"Current Position:"_s, page);
    positionFrame->setObjectName(names.positionFrame.toString());
    positionFrame->setGeometry(inTab(120, 1980, 2775, 795));
    counter = makeLabel(names.position.toString(), u"2540.12"_s, twips(60, 300, 2655, 315),
        Qt::AlignHCenter, positionFrame);
    counter->setFont(sansSerif(12));

    zero = makeButton(
        names.zero.toString(), u"Zero the Encoder"_s, inTab(120, 2880, 2775, 735), page);
}

void frmPicOptions::buildInputsPage(QWidget* page)
{
    const QPoint origin = SSTab1->pageOrigin();
    const auto inTab = [&](int left, int top, int width, int height) {
        return twips(left, top, width, height).translated(-origin);
    };
    struct Row
    {
        int top;
        QString label;
        QString caption;
    };
    const std::array<Row, 6> rows { {
        { 1080, u"Label3"_s, u"A. Accept"_s },
        { 1380, u"Label6"_s, u"B. Accept"_s },
        { 1680, u"Label7"_s, u"End of Board"_s },
        { 1980, u"Label8"_s, u"Zero"_s },
        { 2280, u"Label9"_s, u"Aux 1"_s },
        { 2580, u"Label10"_s, u"Aux 2"_s },
    } };
    for (size_t i = 0; i < rows.size(); ++i) {
        auto* shape = new Shape(page);
        shape->setObjectName(u"Shape%1"_s.arg(i + 1));
        shape->setGeometry(inTab(840, rows[i].top, 255, 255));
        Shapes[i] = shape;

        auto* label = makeLabel(rows[i].label, rows[i].caption, inTab(1140, rows[i].top, 1575, 315),
            Qt::AlignLeft, page);
        label->setFont(sansSerif(9.75));
        inputLabels[i] = label;
    }

    // The part verdict buttons are laid out but nothing ever shows them.
    Command1 = makeButton(u"Command1"_s, u"'Good' Part"_s, inTab(360, 2940, 1095, 675), page);
    Command2 = makeButton(u"Command2"_s, u"'Bad' Part"_s, inTab(1560, 2940, 1095, 675), page);
    Command1->setVisible(false);
    Command2->setVisible(false);
}

void frmPicOptions::buildKeypad()
{
    constexpr std::array<int, 3> lefts { 3240, 4560, 5880 };
    constexpr std::array<int, 4> tops { 120, 1080, 2040, 3000 };
    const auto key
        = [&](const QString& name, const QString& caption, int column, int row, qreal points) {
              auto* button = makeButton(
                  name, caption, twips(lefts[size_t(column)], tops[size_t(row)], 1215, 855), this);
              button->setFont(sansSerif(points));
              QPalette palette = button->palette();
              palette.setColor(QPalette::Button, KeypadFace);
              button->setPalette(palette);
              return button;
          };
    // A calculator's layout: 7 8 9 / 4 5 6 / 1 2 3 / . 0 BackSpace.
    for (int digit = 1; digit <= 9; ++digit) {
        const int row = 2 - (digit - 1) / 3;
        const int column = (digit - 1) % 3;
        cmdNumber[size_t(digit)]
            = key(u"cmdNumber%1"_s.arg(digit), QString::number(digit), column, row, 18);
    }
    cmdDecimal = key(u"cmdDecimal"_s, u"."_s, 0, 3, 24);
    cmdNumber[0] = key(u"cmdNumber0"_s, u"0"_s, 1, 3, 18);
    cmdBackSpace = key(u"cmdBackSpace"_s, u"BackSpace"_s, 2, 3, 9.75);
}

void frmPicOptions::setFocusOrder()
{
    QList<QWidget*> order { cmdOK, cmdCancel, cmdApply, SSTab1, cmdDecimal, cmdBackSpace };
    for (QPushButton* button : cmdNumber)
        order.append(button);
    order << txtScale3 << cmdZeroCounter3 << cmdZeroCounter4 << txtScale4 << Text1;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void frmPicOptions::nameForScreenReaders()
{
    // A control is read with the caption the operator sees beside it; left
    // alone, Qt names a box after its group box ("Scale Factor:"), a value
    // by the number only, and the lamps and the raw view not at all.
    installAccessibleInterfaces();
    Label2->setBuddy(txtScale3);
    Label4->setBuddy(txtScale4);
    setValueCaption(lblScale3, Label1->text());
    setValueCaption(lblScale4, Label5->text());
    setValueCaption(lblCounter3, Frame2->title());
    setValueCaption(lblCounter4, Frame3->title());
    Label11->setBuddy(Text1);
    for (size_t i = 0; i < Shapes.size(); ++i)
        inputLabels[i]->setBuddy(Shapes[i]);
}
