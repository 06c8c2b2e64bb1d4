#pragma once
// What the two dump-area dialogs do, without a toolkit: the named flash areas
// that fill in a FROM/TO pair, the two hexadecimal boxes that follow each
// other on every change, the box limits and the NAND "Erase" check box.
//
// A view shows the model's texts and forwards the operator's edits; every
// write into a box (by an area button or by the change handling itself) runs
// that box's change handling again, so FROM and TO always end as the parse of
// the texts finally shown.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jobs/Console.h"

namespace vantrel {

struct DumpAreaPreset {
  std::string caption;
  bool shown;  // some areas are laid out but never shown
  uint32_t from;
  uint32_t to;
  std::string fromText;
  std::string toText;
};

struct DumpDialogDef {
  std::string title;      // window caption
  std::string okCaption;  // "START" or "OK"
  bool eraseBoxEnabled;   // NAND only: the check box becomes the erase flag
  std::vector<DumpAreaPreset> areas;
  uint32_t fromLimit;
  std::string fromLimitText;
  uint32_t toLimit;
  std::string toLimitText;
};

const DumpDialogDef& NorDumpDialogDef();
const DumpDialogDef& NandDumpDialogDef();

inline constexpr const char* kWrongValueText = "Wrong value";
inline constexpr const char* kWrongValueCaption = "WARNING";
inline constexpr const char* kEraseBoxCaption = "Erase && Initialization";

class DumpAreaModel {
 public:
  // Called for the "Wrong value" box; blocks until answered.
  using WarnFn = std::function<void(const std::string& text, const std::string& caption)>;

  DumpAreaModel(const DumpDialogDef& def, WarnFn warn);

  const DumpDialogDef& Def() const { return def_; }

  // Operator actions.
  void SelectArea(std::size_t index);
  void EditFrom(const std::string& text);
  void EditTo(const std::string& text);
  void SetEraseChecked(bool checked) { eraseChecked_ = checked; }
  // OK: exchanges the check box into the erase flag and hands back the range.
  DumpArea Accept();

  // What the view shows.
  const std::string& FromText() const { return fromText_; }
  const std::string& ToText() const { return toText_; }
  bool EraseChecked() const { return eraseChecked_; }
  int SelectedArea() const { return selected_; }  // -1: none

  // Members as the change handling left them.
  uint32_t From() const { return from_; }
  uint32_t To() const { return to_; }
  int EraseFlag() const { return erase_; }

 private:
  void WriteFrom(const std::string& text);
  void WriteTo(const std::string& text);
  void FromChanged();
  void ToChanged();
  void ExchangeFromControls();
  void ExchangeToControls();

  const DumpDialogDef& def_;
  WarnFn warn_;
  std::string fromText_;
  std::string toText_;
  bool eraseChecked_ = false;
  int selected_ = -1;
  // The dialog sets neither address until the operator acts; 0..0 is a range
  // every dump job refuses, so pressing OK at once cannot read flash by chance.
  uint32_t from_ = 0;
  uint32_t to_ = 0;
  int erase_ = 0;
};

}  // namespace vantrel
