#include "app/Setup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/Texts3.h"
#include "app/browse/FileListView.h"
#include "platform/Help.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "ui_MainForm.h"
#include "ui_SetupForm.h"
#include "util/BaseSysInfo.h"

TUpDown::TUpDown(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    up_ = new QToolButton(this);
    up_->setObjectName(QStringLiteral("Up"));
    up_->setArrowType(Qt::UpArrow);
    down_ = new QToolButton(this);
    down_->setObjectName(QStringLiteral("Down"));
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton *b : {up_, down_}) {
        b->setFixedSize(17, 12);
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(b);
    }
    connect(up_, &QToolButton::clicked, this, [this] { Click(true); });
    connect(down_, &QToolButton::clicked, this, [this] { Click(false); });
    setFixedWidth(17);
}

void TUpDown::Click(bool up)
{
    if (!Associate)
        return;
    int32_t value = Min;
    if (!ParseSettingInt(FromQString(Associate->text()), &value))
        value = Min;
    const int64_t next = static_cast<int64_t>(value) + (up ? Increment : -Increment);
    value = static_cast<int32_t>(std::clamp<int64_t>(next, Min, Max));
    Associate->setText(QString::number(value));
}

void TShape::SetPenColor(const QColor &color)
{
    pen_ = color;
    update();
}

void TShape::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(pen_, 1));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
}

TSetupForm::TSetupForm(TMainForm *main, QWidget *parent)
    : QDialog(parent ? parent : main), ui(new Ui::TSetupForm), main_(main)
{
    ui->setupUi(this);
    ui->UpDown1->Associate = ui->Edit1;
    ui->UpDown1->Min = 100;
    ui->UpDown1->Max = 10000;
    ui->UpDown1->Increment = 100;
    ui->UpDown2->Associate = ui->Edit2;
    ui->UpDown2->Min = 100;
    ui->UpDown2->Max = 5000;
    ui->UpDown2->Increment = 100;
    ColourDialog();
    connect(ui->ComboBox3, &QComboBox::currentIndexChanged, this, &TSetupForm::ComboBox3Change);
    for (QRadioButton *b : {ui->RadioButton1, ui->RadioButton2, ui->RadioButton3, ui->RadioButton4})
        connect(b, &QRadioButton::clicked, this, [this] { treeChanged_ = true; });
    connect(ui->BitBtn1, &QPushButton::clicked, this, [this] {
        if (BitBtn1Click())
            accept();
    });
    connect(ui->BitBtn2, &QPushButton::clicked, this, [this] {
        HelpService::ShowContext(ToQString(main_->HelpFile), 11, langunit::CurrentLanguage());
    });
    FormShow();
}

TSetupForm::~TSetupForm()
{
    delete ui;
}

void TSetupForm::ColourDialog()
{
    std::vector<QWidget *> background{ui->Shape1, ui->Panel1, ui->Panel2, ui->Panel3,
                                      ui->Panel4, ui->Panel5, ui->Panel7};
    for (int i = 1; i <= 8; ++i)
        if (auto *box = findChild<QCheckBox *>(QStringLiteral("CheckBox%1").arg(i))) {
            // A button fills with its button colour unless told otherwise.
            box->setBackgroundRole(QPalette::Window);
            background.push_back(box);
        }
    for (int i = 1; i <= 13; ++i)
        if (auto *label = findChild<QLabel *>(QStringLiteral("Label%1").arg(i)))
            background.push_back(label);
    main_->PaintDialog(this, background);
    // The two outlines in the frame colour.
    ui->Shape2->SetPenColor(main_->FrameColor());
    ui->Shape3->SetPenColor(main_->FrameColor());
}

void TSetupForm::FormShow()
{
    setWindowTitle(L(35));
    ui->BitBtn2->setText(L(16));
    {
        const QSignalBlocker blockLanguage(ui->ComboBox2);
        const QSignalBlocker blockColours(ui->ComboBox3);
        ui->ComboBox2->clear();
        ui->ComboBox2->addItems({L(36), L(37), L(38)});
        ui->ComboBox3->clear();
        ui->ComboBox3->addItems({L(70), L(71), L(72), L(73)});
    }
    ui->Label11->setText(L(68) + QStringLiteral(":"));
    ui->Label12->setText(L(69) + QStringLiteral(":"));

    ui->Label3->setText(ByLanguage("Default archive:", "Predvolený archív:", "Předvolený archiv:"));
    ui->Label5->setText(ByLanguage(" Loading setup: ", " Nastavenie načítavania: ", " Nastavení načítávání: "));
    ui->Label6->setText(ByLanguage(" Enviroment setup: ", " Nastavenie prostredia: ", " Nastavení prostředí: "));
    ui->CheckBox1->setText(ByLanguage("Load icons of \"*.exe\" files", "Načítať ikony \"*.exe\" súborov",
                                       "Načíst ikony \"*.exe\" souborů"));
    ui->CheckBox2->setText(ByLanguage("Look into archive file *.zip", "Nahliadať do archívov *.zip",
                                       "Nahlížet do archivů *.zip"));
    ui->CheckBox3->setText(ByLanguage("Look into archive file *.rar", "Nahliadať do archívov *.rar",
                                       "Nahlížet do archivů *.rar"));
    ui->CheckBox4->setText(ByLanguage("Look into archive file *.cab", "Nahliadať do archívov *.cab",
                                       "Nahlížet do archivů *.cab"));
    ui->Label8->setText(ByLanguage("On saving wait:", "Pri ukladaní čakať:", "Při ukládání čekat:"));
    ui->Label9->setText(ByLanguage("milliseconds", "milisekúnd", "milisekund"));
    ui->Label4->setText(ByLanguage("At filtration display max.:", "Pri filtrovaní zobraziť max.:",
                                    "Při filtrování zobrazit max.:"));
    ui->Label7->setText(ByLanguage("records", "záznamov", "záznamů"));
    ui->Label10->setText(ByLanguage("Language interface:", "Jazykové prostredie:", "Jazykové prostředí:"));
    const QString yes = ByLanguage("Yes", "Áno", "Ano");
    const QString no = ByLanguage("No", "Nie", "Ne");
    ui->RadioButton1->setText(yes);
    ui->RadioButton3->setText(yes);
    ui->RadioButton2->setText(no);
    ui->RadioButton4->setText(no);
    ui->Label13->setText(ByLanguage("Arrange CD-names:", "Zoraďovať názvy CD:", "Řadit názvy CD:"));
    ui->CheckBox8->setText(ByLanguage("Remember latest archive", "Pamätať si posledný archív",
                                       "Pamatovat si poslední archiv"));
    ui->RadioGroup1->setTitle(ByLanguage(" Cd interface ", " Cd rozhranie ", " Cd rozhraní "));
    ui->Label16->setText(ByLanguage("Address music. server :", "Adresa hud. servera: ", "Adresa hud. serveru: "));
    ui->CheckBox7->setText(ByLanguage("Seek music names to internet", "Hľadať názvy skladieb na internete",
                                       "Hledat názvy skladeb na internetu"));
    ui->CheckBox5->setText(ByLanguage("Show lines", "Zobraziť riadkovanie", "Zobrazit řádkování"));
    ui->CheckBox6->setText(ByLanguage("Show information panel", "Zobraziť informačný panel",
                                       "Zobrazit informační panel"));
    ui->Label14->setText(QStringLiteral("Http port :"));

    const TSettings &s = main_->Settings;
    ui->Edit1->setText(QString::number(s[6]));
    ui->Edit2->setText(QString::number(s[7]));
    ui->CheckBox1->setChecked(s[2] == 1);
    ui->CheckBox2->setChecked(s[3] == 1);
    ui->CheckBox3->setChecked(s[4] == 1);
    ui->CheckBox4->setChecked(s[5] == 1);
    ui->CheckBox5->setChecked(s[15] == 1);
    ui->CheckBox6->setChecked(s[16] == 1);
    ui->CheckBox7->setChecked(s[17] == 1);
    ui->CheckBox8->setChecked(s[20] == 1);
    main_->LoadArchivesToCombo(ui->ComboBox1);
    ui->ComboBox1->setCurrentIndex(ui->ComboBox1->count() > 0 ? 0 : -1);
    ui->ComboBox1->setEditText(ToQString(main_->DefaultCatalogText));
    (s[10] == 1 ? ui->RadioButton1 : ui->RadioButton2)->setChecked(true);
    (s[12] == 1 ? ui->RadioButton3 : ui->RadioButton4)->setChecked(true);
    {
        const QSignalBlocker blockColours(ui->ComboBox3);
        ui->ComboBox2->setCurrentIndex(langunit::CurrentLanguage());
        ui->ComboBox3->setCurrentIndex(s[11] >= 0 && s[11] <= 3 ? s[11] : -1);
    }
    ui->Edit6->setText(ToQString(s.SetupText[1]));
    ui->Edit3->setText(ToQString(s.SetupText[2]));
    QRadioButton *interfaces[] = {ui->RadioGroup1Item0, ui->RadioGroup1Item1, ui->RadioGroup1Item2};
    if (s[19] >= 0 && s[19] <= 2)
        interfaces[s[19]]->setChecked(true);
    // On the desktop whose theme sets the colours the scheme cannot be chosen.
    if (GetWindowsVersion() == wvWinXP) {
        ui->ComboBox3->setEnabled(false);
        ui->Label11->setEnabled(false);
    }
    treeChanged_ = false;
}

void TSetupForm::ComboBox3Change()
{
    TColourPair pair{};
    if (!ColourPairOf(ui->ComboBox3->currentIndex(), &pair))
        return;
    main_->Colours = pair;
    ColourDialog();
}

bool TSetupForm::BitBtn1Click()
{
    // Every box is checked before anything changes, so that a bad value never
    // leaves the settings half taken over.
    // A number typed beyond the arrows' range is taken as it stands; a text
    // that is not a number is refused.
    struct NumberBox {
        QLineEdit *edit;
        QLabel *label;
        const TUpDown *arrows;
    };
    int32_t numbers[2] = {};
    const NumberBox boxes[2] = {{ui->Edit1, ui->Label8, ui->UpDown1}, {ui->Edit2, ui->Label4, ui->UpDown2}};
    for (int i = 0; i < 2; ++i) {
        const int low = boxes[i].arrows->Min, high = boxes[i].arrows->Max;
        if (!ParseSettingInt(FromQString(boxes[i].edit->text()), &numbers[i])) {
            const QString text = ByLanguage("Enter a whole number from %2 to %3 in \"%1\".",
                                             "Do poľa \"%1\" zadajte celé číslo od %2 do %3.",
                                             "Do pole \"%1\" zadejte celé číslo od %2 do %3.")
                                     .arg(boxes[i].label->text().trimmed())
                                     .arg(low)
                                     .arg(high);
            Prompt::Current().Show(text, L(67), PromptButtons::Ok, PromptIcon::Warning);
            boxes[i].edit->setFocus();
            boxes[i].edit->selectAll();
            return false;
        }
    }
    const std::string defaultCatalog = FromQString(ui->ComboBox1->currentText());
    if (!defaultCatalog.empty() && !TMainForm::CheckCatalogName(defaultCatalog).empty()) {
        Prompt::Current().Show(ToQString(TMainForm::CheckCatalogName(defaultCatalog)), L(67), PromptButtons::Ok,
                               PromptIcon::Warning);
        ui->ComboBox1->setFocus();
        return false;
    }

    TSettings &s = main_->Settings;
    Ui::TMainForm *mainUi = main_->ui;
    main_->ChangeColor();
    s[2] = ui->CheckBox1->isChecked() ? 1 : 0;
    s[3] = ui->CheckBox2->isChecked() ? 1 : 0;
    s[4] = ui->CheckBox3->isChecked() ? 1 : 0;
    s[5] = ui->CheckBox4->isChecked() ? 1 : 0;
    s[15] = ui->CheckBox5->isChecked() ? 1 : 0;
    mainUi->LinksListView->SetGridLines(s[15] == 1);
    mainUi->SearchView->SetGridLines(s[15] == 1);
    s[16] = ui->CheckBox6->isChecked() ? 1 : 0;
    {
        // The button is set, then its handler shows or hides the panel.
        const QSignalBlocker block(mainUi->ShowInfoButton);
        mainUi->ShowInfoButton->setChecked(s[16] == 1);
    }
    main_->ShowInfoButtonClick();
    s[17] = ui->CheckBox7->isChecked() ? 1 : 0;
    s[20] = ui->CheckBox8->isChecked() ? 1 : 0;
    if (ui->RadioButton1->isChecked())
        s[10] = 1;
    else if (ui->RadioButton2->isChecked())
        s[10] = 0;
    if (ui->RadioButton3->isChecked())
        s[12] = 1;
    else if (ui->RadioButton4->isChecked())
        s[12] = 0;
    QRadioButton *interfaces[] = {ui->RadioGroup1Item0, ui->RadioGroup1Item1, ui->RadioGroup1Item2};
    for (int i = 0; i < 3; ++i)
        if (interfaces[i]->isChecked())
            s[19] = i;
    // The CDDB client reads the interface, the port and the server from the
    // settings at each lookup, so the next lookup uses them.
    s.SetupText[1] = FromQString(ui->Edit6->text());
    s.SetupText[2] = FromQString(ui->Edit3->text());
    s[6] = numbers[0];
    s[7] = numbers[1];
    main_->SearchLimit = numbers[1];
    if (ui->ComboBox2->currentIndex() >= 0)
        langunit::SetCurrentLanguage(ui->ComboBox2->currentIndex());
    main_->DefaultCatalogText = defaultCatalog;
    s.SetupText[3] = defaultCatalog;
    if (ui->ComboBox3->currentIndex() >= 0)
        s[11] = ui->ComboBox3->currentIndex();
    if (treeChanged_)
        main_->LoadTree();
    return true;
}
