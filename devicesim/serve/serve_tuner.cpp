#include "devicesim/serve/serve_tuner.h"

#include "platform/host/device/device.h"

namespace devicesim::serve {
namespace {

std::string Utf8(const std::u16string& text) { return device::ToUtf8(text); }

Json TimingJson(const press_rule::Timing& timing) { return Json{{"hold", timing.hold_ms}, {"double", timing.double_ms}}; }

}  // namespace

TunerPanel::TunerPanel() = default;
TunerPanel::~TunerPanel() = default;

bool TunerPanel::Start(const Json& buttons, const std::string& entry, std::string* error) {
  const Json* found = nullptr;
  if (buttons.is_object() && buttons.contains("buttons") && buttons["buttons"].is_array()) {
    for (const Json& button : buttons["buttons"])
      if (button.is_object() &&
          plat::CompareNoCase(device::FromUtf8(button.value("entry", std::string())), device::FromUtf8(entry)) == 0)
        found = &button;
  }
  if (found == nullptr) {
    *error = "no button of the table has the entry '" + entry + "'";
    return false;
  }
  const int64_t vk = found->value("vk", int64_t{0});
  const int64_t index = found->value("index", int64_t{-1});
  if (vk < 1 || vk > 0xFE || index < 0) {
    *error = "the entry '" + entry + "' names no key the tuner can record";
    return false;
  }
  entry_ = found->value("entry", entry);
  index_ = static_cast<uint32_t>(index);
  const std::string name = found->value("name", entry_);
  model_ = std::make_unique<TunerModel>(index_, static_cast<uint32_t>(vk), device::FromUtf8(name));
  taken_key_ = static_cast<int>(vk);
  stored_ = nullptr;
  changed_ = true;
  return true;
}

bool TunerPanel::StartOver(std::string* error) {
  if (model_ == nullptr) {
    *error = "the tuner is not recording";
    return false;
  }
  model_->StartOver();
  changed_ = true;
  return true;
}

void TunerPanel::Stop() {
  model_.reset();
  taken_key_ = 0;
  changed_ = true;
}

bool TunerPanel::Accept(bool for_every_button, std::string* error) {
  if (model_ == nullptr || !model_->CanAccept()) {
    *error = model_ == nullptr ? "the tuner is not recording" : "there is no proposal to accept";
    return false;
  }
  if (!model_->Accept(for_every_button)) {
    *error = "the timing could not be stored: " + device::ErrorText(plat::GetLastError());
    return false;
  }
  const press_rule::Timing timing = model_->Proposal().timing;
  stored_ = Json{{"entry", entry_}, {"name", Utf8(model_->Name())}, {"hold", timing.hold_ms},
                 {"double", timing.double_ms}, {"forEveryButton", for_every_button}};
  Stop();
  return true;
}

void TunerPanel::Follow(const device::JournalEntry& entry, const Json& fields) {
  if (model_ == nullptr || entry.event != "button" || !fields.is_object()) return;
  const Json& vk = fields.contains("vk") ? fields["vk"] : Json();
  const Json& down = fields.contains("down") ? fields["down"] : Json();
  if (!vk.is_number_integer() || !down.is_boolean() || vk.get<int64_t>() != static_cast<int64_t>(model_->KeyCode()))
    return;
  if (entry.t_ms <= 0) return;
  model_->OnKey(!down.get<bool>(), static_cast<uint64_t>(entry.t_ms));
  changed_ = true;
}

bool TunerPanel::TakeChanged() {
  const bool changed = changed_;
  changed_ = false;
  return changed;
}

Json TunerPanel::View() const {
  Json view{{"recording", model_ != nullptr}, {"stored", stored_}};
  if (model_ == nullptr) return view;
  Json rows = Json::array();
  for (const TunerModel::Row& row : model_->Table())
    rows.push_back(Json{{"label", Utf8(row.label)}, {"now", Utf8(row.now)}, {"proposed", Utf8(row.proposed)}});
  view["entry"] = entry_;
  view["index"] = index_;
  view["name"] = Utf8(model_->Name());
  view["prompt"] = Utf8(model_->Prompt());
  view["notice"] = Utf8(model_->Notice());
  view["finished"] = model_->Finished();
  view["canAccept"] = model_->CanAccept();
  view["rows"] = rows;
  view["current"] = TimingJson(model_->Current());
  view["proposal"] = model_->CanAccept() ? TimingJson(model_->Proposal().timing) : Json();
  return view;
}

}  // namespace devicesim::serve
