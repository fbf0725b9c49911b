// The tag definition dialog and the dialogs its Details button opens for the
// tag's source: a user variable's value, a Modbus point's details, an OPC
// server's item (the browse dialog of the OPC connections).
//
// The definition dialog works on the tag it is given, a new tag or a copy,
// and changes it as the operator goes (the type list at once, the Details
// dialogs on their OK, the name on OK); the tag list throws the tag away on
// Cancel. The Details dialogs change nothing until their own OK.
#pragma once

#include <QDialog>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tags/TagDialogHooks.h"

class CExchangeTag;
class CPlexmarApp;
class COpcServerLink;
class QLineEdit;
namespace Ui {
class TagDefinitionDlg;
class ModbusPointDlg;
class UserVariableDlg;
}  // namespace Ui

// "User Variable Tag": the value as a float.
class CUserVariableDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CUserVariableDlg(float value, QWidget* parent = nullptr);
  ~CUserVariableDlg() override;

  float Value() const { return m_fValue; }
  Ui::UserVariableDlg& Form() { return *m_ui; }
  TagDialogHooks m_hooks = TagDialogHooks::Default();

  void accept() override;

 private:
  std::unique_ptr<Ui::UserVariableDlg> m_ui;
  float m_fValue;
};

// The Modbus fields of a tag as the details dialog edits them.
struct ModbusPointFields {
  int32_t nKind = 1;  // 1 local slave memory, 2 serial master, 3 Modbus/TCP client
  int32_t nCommPort = 1;
  std::string strHost;
  uint8_t nSlaveId = 1;
  uint8_t nPointType = 3;
  uint16_t nAddress = 1;
  int32_t nDataType = 0;
  float fLowLimit = 0.0f;
  float fHighLimit = 100.0f;

  static ModbusPointFields Of(const CExchangeTag& tag);
  void ApplyTo(CExchangeTag& tag) const;
};

// "Modbus Point Details".
class CModbusPointDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CModbusPointDlg(const ModbusPointFields& fields, QWidget* parent = nullptr);
  ~CModbusPointDlg() override;

  // What the dialog started from, and after OK what the operator entered.
  const ModbusPointFields& Fields() const { return m_fields; }
  Ui::ModbusPointDlg& Form() { return *m_ui; }
  TagDialogHooks m_hooks = TagDialogHooks::Default();

  void accept() override;

 private:
  int32_t ChosenKind() const;
  void UpdateEnabling();
  bool Refuse(QLineEdit* edit, const QString& text);

  std::unique_ptr<Ui::ModbusPointDlg> m_ui;
  ModbusPointFields m_fields;
};

// "Tag Definition".
class CTagDefinitionDlg : public QDialog {
  Q_OBJECT

 public:
  // The first entries of the type list, one per kind 0..3; the OPC server
  // links follow.
  static constexpr int kFixedTypeEntries = 4;

  CTagDefinitionDlg(CPlexmarApp& app, CExchangeTag& tag, const TagDialogHooks& hooks,
                    QWidget* parent = nullptr);
  ~CTagDefinitionDlg() override;

  Ui::TagDefinitionDlg& Form() { return *m_ui; }

  // What choosing a type list or logic block list entry does; the lists'
  // `activated` signals call them.
  void OnTypeChosen(int index);
  void OnLogicBlockChosen(int index);
  void OnDetails();

  void accept() override;

 private:
  void ShowSourceDetails();

  std::unique_ptr<Ui::TagDefinitionDlg> m_ui;
  CPlexmarApp& m_app;
  CExchangeTag& m_tag;
  TagDialogHooks m_hooks;
  // The links behind the type list's entries from kFixedTypeEntries on.
  std::vector<COpcServerLink*> m_links;
  // The block names behind the logic block list's entries 1..n, kept as the
  // application has them.
  std::vector<std::string> m_blockNames;
  // The name as shown at the start: left as it is, the tag keeps its own.
  QString m_strShownName;
};

// The tag name the name edit's text gives: its first 199 characters, not
// trimmed, never ending in half a character.
std::string TagNameFromText(const QString& text);
