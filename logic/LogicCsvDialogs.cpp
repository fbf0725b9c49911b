#include "logic/LogicCsvDialogs.h"

#include "ui_ImportLogicBlkDlg.h"
#include "ui_LogicBlockExistsDlg.h"
#include "ui_SelectLogicBlockDlg.h"

CSelectLogicBlockDlg::CSelectLogicBlockDlg(const std::vector<std::string>& names, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::SelectLogicBlockDlg>()) {
  m_ui->setupUi(this);
  for (const std::string& name : names) m_ui->listBlocks->addItem(QString::fromStdString(name));
  m_ui->buttonOk->setEnabled(false);
  connect(m_ui->listBlocks, &QListWidget::itemSelectionChanged, this,
          [this] { m_ui->buttonOk->setEnabled(Selected() >= 0); });
  connect(m_ui->listBlocks, &QListWidget::itemDoubleClicked, this, [this] {
    if (Selected() >= 0) accept();
  });
  connect(m_ui->buttonOk, &QPushButton::clicked, this, [this] {
    if (Selected() >= 0) accept();
  });
  connect(m_ui->buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

CSelectLogicBlockDlg::~CSelectLogicBlockDlg() = default;

int CSelectLogicBlockDlg::Selected() const {
  const QList<QListWidgetItem*> selected = m_ui->listBlocks->selectedItems();
  return selected.isEmpty() ? -1 : m_ui->listBlocks->row(selected.constFirst());
}

CImportLogicBlkDlg::CImportLogicBlkDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::ImportLogicBlkDlg>()) {
  m_ui->setupUi(this);
  connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CImportLogicBlkDlg::~CImportLogicBlkDlg() = default;

std::string CImportLogicBlkDlg::Name() const { return m_ui->editName->text().toStdString(); }

CLogicBlockExistsDlg::CLogicBlockExistsDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::LogicBlockExistsDlg>()) {
  m_ui->setupUi(this);
  connect(m_ui->buttonYes, &QPushButton::clicked, this, &QDialog::accept);
  connect(m_ui->buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

CLogicBlockExistsDlg::~CLogicBlockExistsDlg() = default;
