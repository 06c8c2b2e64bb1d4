#include "maintenance/DumpAreaModel.h"

#include "maintenance/HexText.h"

namespace vantrel {

const DumpDialogDef& NorDumpDialogDef() {
  static const DumpDialogDef def{
      "NOR Flash DUMP",
      "START",
      false,
      {
          {"Code Binary", true, 0x20000, 0x1EAFFFF, "20000", "1EAFFFF"},
          {"DSP Patch", true, 0x1F00000, 0x1F1FFFF, "1F00000", "1F1FFFF"},
          {"Sysparm - IND", true, 0x1F20000, 0x1F3FFFF, "1F20000", "1F3FFFF"},
          {"Sysparm - DEP", true, 0x1F40000, 0x1F5FFFF, "1F40000", "1F5FFFF"},
          {"WCDMA Cal data", true, 0x1F60000, 0x1F7FFFF, "1F60000", "1F7FFFF"},
          {"Spinner firmware", true, 0x1F80000, 0x1FFFFFF, "1F80000", "1FFFFFF"},
          {"Bootloader", true, 0x0, 0xFFFF, "0", "FFFF"},
          {"Rsrc2", false, 0x1B90000, 0x1D8FFFF, "1B90000", "1d8FFFF"},
          {"FactoryFS", false, 0x1D90000, 0x1E8FFFF, "1D90000", "1E8FFFF"},
      },
      0x1FFFFFE,
      "1FFFFFE",
      // The NOR dump itself stops at 0x1FFFFFF and refuses anything above
      // with "Dump range invalid"; the box only keeps the number in 32 bits.
      0x1FFFFFFF,
      "1FFFFFFF",
  };
  return def;
}

const DumpDialogDef& NandDumpDialogDef() {
  static const DumpDialogDef def{
      "NAND Flash DUMP",
      "OK",
      true,
      {
          {"Rsrc1", true, 0x0, 0xABFFFF, "0", "ABffff"},
          {"VLF Full", true, 0xE20000, 0x1EFFFFF, "E20000", "1EFFFFF"},
          {"Rsrc2", false, 0xAC0000, 0xCBFFFF, "AC0000", "CBFFFF"},
          {"FactoryFS", false, 0xCC0000, 0xDBFFFF, "CC0000", "DBFFFF"},
          {"Protect Block", false, 0xDE0000, 0xDFFFFF, "DE0000", "DFFFFF"},
          {"Engineer Area", false, 0xDC0000, 0xDDFFFF, "DC0000", "DDFFFF"},
      },
      0x7FFFFFE,
      "7FFFFFE",
      0x7FFFFFF,
      "7FFFFFF",
  };
  return def;
}

DumpAreaModel::DumpAreaModel(const DumpDialogDef& def, WarnFn warn) : def_(def), warn_(std::move(warn)) {}

void DumpAreaModel::ExchangeFromControls() {
  if (def_.eraseBoxEnabled) erase_ = eraseChecked_ ? 1 : 0;
}

void DumpAreaModel::ExchangeToControls() {
  if (def_.eraseBoxEnabled) eraseChecked_ = erase_ != 0;
}

void DumpAreaModel::SelectArea(std::size_t index) {
  if (index >= def_.areas.size()) return;
  const DumpAreaPreset& area = def_.areas[index];
  selected_ = static_cast<int>(index);
  from_ = area.from;
  to_ = area.to;
  // The FROM write is handled while the TO box still shows its old text, so
  // TO may pass through FROM + 1 before its own write settles the pair.
  WriteFrom(area.fromText);
  WriteTo(area.toText);
  ExchangeToControls();
}

void DumpAreaModel::EditFrom(const std::string& text) { WriteFrom(text); }
void DumpAreaModel::EditTo(const std::string& text) { WriteTo(text); }

void DumpAreaModel::WriteFrom(const std::string& text) {
  fromText_ = text;
  FromChanged();
}

void DumpAreaModel::WriteTo(const std::string& text) {
  toText_ = text;
  ToChanged();
}

void DumpAreaModel::FromChanged() {
  ExchangeFromControls();
  if (!IsHexText(fromText_)) {
    if (warn_) warn_(kWrongValueText, kWrongValueCaption);
    WriteFrom("0");
    ExchangeFromControls();
    return;
  }
  from_ = ParseHexText(fromText_);
  to_ = ParseHexText(toText_);
  if (from_ > def_.fromLimit) {
    from_ = def_.fromLimit;
    WriteFrom(def_.fromLimitText);
    ExchangeFromControls();
    return;
  }
  if (from_ > to_) WriteTo(FormatHexUpper(from_ + 1));
}

void DumpAreaModel::ToChanged() {
  ExchangeFromControls();
  if (!IsHexText(toText_)) {
    if (warn_) warn_(kWrongValueText, kWrongValueCaption);
    WriteTo("0");
    ExchangeFromControls();
    return;
  }
  to_ = ParseHexText(toText_);
  from_ = ParseHexText(fromText_);
  if (to_ > def_.toLimit) {
    to_ = def_.toLimit;
    WriteTo(def_.toLimitText);
    ExchangeFromControls();
  }
}

DumpArea DumpAreaModel::Accept() {
  ExchangeFromControls();
  DumpArea area;
  area.from = from_;
  area.to = to_;
  area.erase = def_.eraseBoxEnabled ? erase_ : 0;
  return area;
}

}  // namespace vantrel
