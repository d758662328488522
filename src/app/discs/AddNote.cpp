#include "app/discs/AddNote.h"

#include <QKeyEvent>
#include <QPushButton>

#include "app/LangUnit.h"
#include "app/Main.h"
#include "platform/Help.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "ui_AddNoteForm.h"
#include "util/TextCodec.h"

QValidator::State TCharWidthValidator::validate(QString &input, int &pos) const
{
    const QByteArray utf8 = input.toUtf8();
    const std::string_view bytes(utf8.constData(), size_t(utf8.size()));
    if (StoredTextLength(bytes) <= size_t(chars_))
        return Acceptable;
    // Too long (typed or pasted): keep what fits, whole characters only.
    const std::string_view cut = CutToCharWidth(bytes, size_t(chars_));
    input = QString::fromUtf8(cut.data(), qsizetype(cut.size()));
    pos = std::min<int>(pos, int(input.size()));
    return Acceptable;
}

TAddNoteForm::TAddNoteForm(TMainForm *main, QWidget *parent)
    : QDialog(parent ? parent : main), ui(new Ui::TAddNoteForm), main_(main)
{
    ui->setupUi(this);
    main_->PaintDialog(this, {ui->Shape1, ui->Label1});
    ui->Edit1->setValidator(new TCharWidthValidator(main_->NoteFieldWidth(), ui->Edit1));
    connect(ui->OkButton, &QPushButton::clicked, this, &TAddNoteForm::OkButtonClick);
    connect(ui->CancelButton, &QPushButton::clicked, this, &TAddNoteForm::reject);
    connect(ui->HelpButton, &QPushButton::clicked, this, [this] {
        HelpService::ShowContext(ToQString(main_->HelpFile), 18, langunit::CurrentLanguage());
    });
    FormShow();
}

TAddNoteForm::~TAddNoteForm()
{
    delete ui;
}

void TAddNoteForm::FormShow()
{
    setWindowTitle(ToQString(langunit::LangString(81)));
    ui->Label1->setText(ToQString(langunit::LangString(main_->NoteMode == 1 ? 82 : 84) + main_->NoteTarget));
    ui->CancelButton->setText(ToQString(langunit::LangString(17)));
    ui->HelpButton->setText(ToQString(langunit::LangString(16)));
}

void TAddNoteForm::SetNote(const std::string &note)
{
    // The validator cuts a stored note that is wider than the field allows.
    ui->Edit1->setText(ToQString(note));
    QString text = ui->Edit1->text();
    int pos = 0;
    ui->Edit1->validator()->validate(text, pos);
    ui->Edit1->setText(text);
}

void TAddNoteForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    ui->Edit1->setFocus();
}

void TAddNoteForm::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        ui->OkButton->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TAddNoteForm::OkButtonClick()
{
    try {
        main_->StoreNote(FromQString(ui->Edit1->text()));
    } catch (const std::exception &e) {
        Prompt::Current().Show(ToQString(e.what()), ToQString(langunit::LangString(67)), PromptButtons::Ok,
                               PromptIcon::Error);
    }
    accept();
}
