// ui_facts: prints, as JSON, what the UI tests need to know of the programs from the programs' own
// sources: the setup window's layout table, the path-check window's table, captions, class names and
// the medium's file names. The tests read these instead of writing them out again.
#include <cstdio>
#include <string>
#include <string_view>

#include "actions/installer_handover.h"
#include "actions/notes_toggle.h"
#include "actions/payload_check.h"
#include "actions/utf16.h"
#include "common/components.h"
#include "pathcheck/path_check_layout.h"
#include "setup/class_names.h"
#include "setup/layout.h"

namespace {

// JSON string contents: UTF-8, with quotes, backslashes and control characters escaped.
std::string Quoted(std::wstring_view text) {
  std::string out = "\"";
  for (const char c : actions::EncodeUtf8(text)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Quoted(std::string_view text) {
  return Quoted(std::wstring(text.begin(), text.end()));
}

std::string Number(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
  return text;
}

std::string Box(const common::TwipBox& box) {
  return "[" + Number(box.left) + ", " + Number(box.top) + ", " + Number(box.width) + ", " +
         Number(box.height) + "]";
}

std::string SetupControl(const setup::ControlRow& row) {
  std::string json = "{\"name\": " + Quoted(row.name) +
                     ", \"id\": " + std::to_string(setup::ControlId(row.row)) +
                     ", \"child_window\": " + (setup::IsChildWindow(row.kind) ? "true" : "false") +
                     ", \"in_title_strip\": " + (row.Has(setup::kInTitleStrip) ? "true" : "false");
  if (row.kind == setup::ControlKind::Line) {
    json += ", \"line\": [" + Number(row.line.x1) + ", " + Number(row.line.y1) + ", " + Number(row.line.x2) +
            ", " + Number(row.line.y2) + "]";
  } else {
    json += ", \"box\": " + Box(row.box);
  }
  return json + "}";
}

std::string PathCheckControl(const pathcheck::PathCheckControl& control) {
  return "{\"name\": " + Quoted(control.name) + ", \"id\": " + std::to_string(control.id) +
         ", \"box\": " + Box(control.box) + "}";
}

template <typename Range, typename Describe>
std::string List(const Range& items, Describe describe) {
  std::string json = "[";
  for (const auto& item : items) json += (json.size() > 1 ? ",\n    " : "\n    ") + describe(item);
  return json + "]";
}

}  // namespace

int main() {
  const common::Component components[] = {common::kDaoLibrary, common::kJetExpressionService};
  std::string json = "{\n";
  json += "  \"setup\": {\"caption\": " + Quoted(setup::kWindowCaption) +
          ", \"message_box_title\": " + Quoted(setup::kMessageBoxTitle) +
          ", \"class\": " + Quoted(setup::kSetupWindowClassName) +
          ", \"title_strip_class\": " + Quoted(setup::kTitleStripClassName) + ", \"client_twips\": [" +
          Number(setup::kClientWidthTwips) + ", " + Number(setup::kClientHeightTwips) + "],\n";
  json += "   \"controls\": " + List(setup::kControls, SetupControl) + "},\n";
  json += "  \"pathcheck\": {\"caption\": " + Quoted(pathcheck::kPathCheckCaption) +
          ", \"title\": " + Quoted(pathcheck::kApplicationTitle) + ", \"client_twips\": [" +
          Number(pathcheck::kPathCheckClientWidthTwips) + ", " +
          Number(pathcheck::kPathCheckClientHeightTwips) + "],\n";
  json += "   \"controls\": " + List(pathcheck::kPathCheckControls, PathCheckControl) + "},\n";
  json += "  \"medium\": {\"notes\": " + Quoted(actions::kNotesFileName) +
          ", \"notes_bound\": " + std::to_string(actions::kNotesBoundBytes) +
          ", \"installer\": " + Quoted(actions::kInstallerRelativePath) + ",\n";
  json += "   \"components\": " +
          List(components,
               [](const common::Component& component) {
                 return "{\"source\": " + Quoted(component.source) +
                        ", \"destination\": " + Quoted(component.destination) + "}";
               }) +
          "},\n";
  // The refusals' texts with placeholders that the tests fill in: {file} for the file that failed, {program}
  // for the launcher's own file name.
  using Reason = actions::RefusalReason;
  json +=
      "  \"refusals\": {\"file_differs\": " +
      Quoted(actions::RefusalMessage({Reason::FileDiffers, L"{file}"}, L"{program}")) +
      ", \"list_damaged\": " +
      Quoted(actions::RefusalMessage({Reason::ListDamaged, L"{file}"}, L"{program}")) +
      ", \"cannot_hash\": " + Quoted(actions::RefusalMessage({Reason::CannotHash, L"{file}"}, L"{program}")) +
      "}\n}\n";
  std::fputs(json.c_str(), stdout);
  return 0;
}
