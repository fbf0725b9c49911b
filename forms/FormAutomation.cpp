#include "forms/FormAutomation.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QList>

#include "forms/PlexmarDoc.h"

namespace {

int g_nNextForm = 1;
int g_nLiveObjects = 0;

// What an empty value is sent as: D-Bus has no empty variant.
QDBusVariant EmptyValue() { return QDBusVariant(QVariant::fromValue(QList<QDBusVariant>())); }

}  // namespace

bool VariantFromDBus(const QVariant& value, VARIANT& out) {
  VariantInit(&out);
  switch (value.metaType().id()) {
    case QMetaType::Bool:
      out = MakeVariantBool(value.toBool());
      return true;
    case QMetaType::UChar:
      out.vt = VT_UI1;
      out.bVal = static_cast<uint8_t>(value.value<uchar>());
      return true;
    case QMetaType::Short:
      out = MakeVariantI2(value.value<short>());
      return true;
    case QMetaType::UShort:
      out.vt = VT_UI2;
      out.uiVal = value.value<ushort>();
      return true;
    case QMetaType::Int:
      out = MakeVariantI4(value.toInt());
      return true;
    case QMetaType::UInt:
      out.vt = VT_UI4;
      out.ulVal = value.toUInt();
      return true;
    case QMetaType::LongLong:
      out.vt = VT_I8;
      out.llVal = value.toLongLong();
      return true;
    case QMetaType::ULongLong:
      out.vt = VT_UI8;
      out.ullVal = value.toULongLong();
      return true;
    case QMetaType::Double:
      out = MakeVariantR8(value.toDouble());
      return true;
    case QMetaType::QString: {
      const QByteArray utf8 = value.toString().toUtf8();
      out = MakeVariantText(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
      return true;
    }
    default:
      return false;
  }
}

namespace {

// One element of an array, as a VARIANT the caller owns.
bool ArrayElement(SAFEARRAY* array, int32_t index, VARTYPE vt, VARIANT& out) {
  VariantInit(&out);
  if (vt == VT_VARIANT) return SUCCEEDED(SafeArrayGetElement(array, &index, &out));
  if (vt == VT_BSTR) {
    BSTR text = nullptr;
    if (FAILED(SafeArrayGetElement(array, &index, &text))) return false;
    out.vt = VT_BSTR;
    out.bstrVal = text;
    return true;
  }
  out.vt = vt;
  return SUCCEEDED(SafeArrayGetElement(array, &index, &out.llVal));
}

}  // namespace

QDBusVariant DBusFromVariant(const VARIANT& value) {
  if (value.vt & VT_ARRAY) {
    QList<QDBusVariant> elements;
    VARTYPE vt = VT_EMPTY;
    int32_t low = 0, high = -1;
    if (value.parray == nullptr || FAILED(SafeArrayGetVartype(value.parray, &vt)) ||
        FAILED(SafeArrayGetLBound(value.parray, 1, &low)) || FAILED(SafeArrayGetUBound(value.parray, 1, &high)))
      return EmptyValue();
    for (int32_t i = low; i <= high; ++i) {
      VARIANT element;
      if (!ArrayElement(value.parray, i, vt, element)) continue;
      elements.append(DBusFromVariant(element));
      VariantClear(&element);
    }
    return QDBusVariant(QVariant::fromValue(elements));
  }
  switch (value.vt) {
    case VT_BOOL: return QDBusVariant(value.boolVal != VARIANT_FALSE);
    case VT_UI1: return QDBusVariant(QVariant::fromValue<uchar>(value.bVal));
    case VT_I1: return QDBusVariant(QVariant::fromValue<short>(value.cVal));
    case VT_I2: return QDBusVariant(QVariant::fromValue<short>(value.iVal));
    case VT_UI2: return QDBusVariant(QVariant::fromValue<ushort>(value.uiVal));
    case VT_I4:
    case VT_INT:
    case VT_ERROR: return QDBusVariant(QVariant::fromValue<int>(value.lVal));
    case VT_UI4:
    case VT_UINT: return QDBusVariant(QVariant::fromValue<uint>(value.ulVal));
    case VT_I8: return QDBusVariant(QVariant::fromValue<qlonglong>(value.llVal));
    case VT_UI8: return QDBusVariant(QVariant::fromValue<qulonglong>(value.ullVal));
    case VT_R4: return QDBusVariant(static_cast<double>(value.fltVal));
    case VT_R8:
    case VT_DATE: return QDBusVariant(value.dblVal);
    case VT_CY: return QDBusVariant(static_cast<double>(value.cyVal) / 10000.0);
    case VT_BSTR: return QDBusVariant(QString::fromStdString(BstrToUtf8(value.bstrVal)));
    default: return EmptyValue();
  }
}

CFormAutomation::CFormAutomation(CPlexmarDoc& doc) : m_doc(doc) {}

CFormAutomation::~CFormAutomation() {
  if (m_path.isEmpty()) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.unregisterObject(m_path);
  if (--g_nLiveObjects == 0) bus.unregisterService(QString::fromLatin1(kAutomationService));
}

QString CFormAutomation::Title() const { return QString::fromStdString(m_doc.GetTitle()); }

QDBusVariant CFormAutomation::ReadTag(const QDBusVariant& name) {
  VARIANT key;
  if (!VariantFromDBus(name.variant(), key)) return EmptyValue();
  CVariant value = m_doc.ReadTag(key);
  VariantClear(&key);
  return DBusFromVariant(*value);
}

int CFormAutomation::WriteTag(const QDBusVariant& name, const QDBusVariant& value) {
  VARIANT key, written;
  if (!VariantFromDBus(name.variant(), key)) return DISP_E_TYPEMISMATCH;
  if (!VariantFromDBus(value.variant(), written)) {
    VariantClear(&key);
    return DISP_E_TYPEMISMATCH;
  }
  const HRESULT status = m_doc.WriteTag(key, written);
  VariantClear(&key);
  VariantClear(&written);
  return status;
}

std::unique_ptr<CFormAutomation> CreateFormAutomation(CPlexmarDoc& doc) {
  auto automation = std::make_unique<CFormAutomation>(doc);
  // Arrays and the empty value go out as arrays of variants.
  static const bool registered = (qDBusRegisterMetaType<QList<QDBusVariant>>(), true);
  (void)registered;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return automation;
  const QString path = QStringLiteral("/com/norvell/Plexmar/Form%1").arg(g_nNextForm++);
  if (!bus.registerObject(path, automation.get(),
                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties))
    return automation;
  automation->m_path = path;
  // A second Plexmar on the same bus keeps its objects under its unique name.
  if (g_nLiveObjects++ == 0) bus.registerService(QString::fromLatin1(kAutomationService));
  return automation;
}
