// The automation of form documents over D-Bus: each open form is an object
// on the session bus with the methods "ReadTag" and "WriteTag".
//
//   bus name   com.norvell.Plexmar (the first Plexmar on the bus owns it;
//              the objects are also reachable through the connection's
//              unique name)
//   path       /com/norvell/Plexmar/Form1, Form2, ... one per document, in
//              the order the documents were made
//   interface  com.norvell.Plexmar.Document
//     ReadTag(v name) -> v        the tag's current value; an empty value
//                                  (no tag, or a name that is not text or a
//                                  number) comes as an empty array "av"
//     WriteTag(v name, v value) -> i
//                                  the value converted to the type of the
//                                  tag's current value and written: 0 or
//                                  the write's status; negative when the
//                                  value does not convert or no tag has the
//                                  name (0x80020006)
//     Title (s, read)              the document's title, as logic blocks
//                                  name the form
//
// Value types: D-Bus b, y, n, q, i, u, x, t, d and s are VT_BOOL, VT_UI1,
// VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8, VT_R8 and VT_BSTR; a VT_R4
// goes out as d, VT_I1 as n, an array as an array of variants. Calls arrive
// on the user-interface thread, as every tag is touched there.
#pragma once

#include <QDBusVariant>
#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>

#include "platform/variant.h"

class CPlexmarDoc;
class CFormAutomation;
std::unique_ptr<CFormAutomation> CreateFormAutomation(CPlexmarDoc& doc);

inline constexpr const char* kAutomationService = "com.norvell.Plexmar";
inline constexpr const char* kAutomationInterface = "com.norvell.Plexmar.Document";

class CFormAutomation : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.norvell.Plexmar.Document")
  Q_PROPERTY(QString Title READ Title)

 public:
  explicit CFormAutomation(CPlexmarDoc& doc);
  ~CFormAutomation() override;

  // The object's path; empty when there is no session bus.
  const QString& Path() const { return m_path; }
  QString Title() const;

 public slots:
  QDBusVariant ReadTag(const QDBusVariant& name);
  int WriteTag(const QDBusVariant& name, const QDBusVariant& value);

 private:
  friend std::unique_ptr<CFormAutomation> CreateFormAutomation(CPlexmarDoc& doc);
  CPlexmarDoc& m_doc;
  QString m_path;
};

// The automation object of a new document, registered on the session bus
// when there is one; destroying it takes the object off the bus.
std::unique_ptr<CFormAutomation> CreateFormAutomation(CPlexmarDoc& doc);

// The value conversions between D-Bus and tag values. A D-Bus value of a
// type that has no VARIANT gives false.
bool VariantFromDBus(const QVariant& value, VARIANT& out);
QDBusVariant DBusFromVariant(const VARIANT& value);
