#include "monitor/attribute_reader.h"

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// Attribute files are at most a page; a value is a few bytes.
constexpr std::size_t kMaxAttributeBytes = 4096;

}  // namespace

// One helper thread's mailbox: one read at a time.
struct AttributeReader::Helper {
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<std::filesystem::path> request;
  std::optional<std::optional<std::string>> result;
  bool busy = false;  // a read is under way
  bool stop = false;

  static void Run(std::shared_ptr<Helper> self, ReadFunction read) {
    std::unique_lock<std::mutex> hold(self->mutex);
    for (;;) {
      self->changed.wait(hold, [&] { return self->stop || self->request.has_value(); });
      if (!self->request) return;
      const std::filesystem::path file = std::move(*self->request);
      self->request.reset();
      self->busy = true;
      hold.unlock();
      std::optional<std::string> text;
      try {
        text = read(file);
      } catch (...) {
        // An unreadable file, as far as the readings go.
      }
      hold.lock();
      self->busy = false;
      self->result = std::move(text);
      self->changed.notify_all();
      if (self->stop) return;
    }
  }
};

AttributeReader::AttributeReader(std::chrono::milliseconds deadline, ReadFunction read,
                                 StallReport on_stall)
    : deadline_(deadline), read_(std::move(read)), on_stall_(std::move(on_stall)) {}

AttributeReader::~AttributeReader() {
  for (auto& [file, helper] : stalled_) {
    std::lock_guard<std::mutex> hold(helper->mutex);
    helper->stop = true;
  }
  if (helper_ != nullptr) {
    std::lock_guard<std::mutex> hold(helper_->mutex);
    helper_->stop = true;
    helper_->changed.notify_all();
  }
}

std::shared_ptr<AttributeReader::Helper> AttributeReader::StartHelper() {
  auto helper = std::make_shared<Helper>();
  try {
    std::thread(Helper::Run, helper, read_).detach();
  } catch (const std::system_error&) {
    return nullptr;  // no thread: reads then run on the caller's
  }
  return helper;
}

std::optional<std::string> AttributeReader::Read(const std::filesystem::path& file) {
  if (auto found = stalled_.find(file); found != stalled_.end()) {
    std::unique_lock<std::mutex> hold(found->second->mutex);
    if (found->second->busy || found->second->request) return std::nullopt;  // still stuck
    hold.unlock();
    stalled_.erase(found);
    if (on_stall_) on_stall_(file.string() + " answers again");
  }
  if (helper_ == nullptr) helper_ = StartHelper();
  if (helper_ == nullptr) return read_(file);
  std::unique_lock<std::mutex> hold(helper_->mutex);
  helper_->result.reset();
  helper_->request = file;
  helper_->changed.notify_all();
  if (helper_->changed.wait_for(hold, deadline_, [&] { return helper_->result.has_value(); })) {
    std::optional<std::string> text = std::move(*helper_->result);
    helper_->result.reset();
    return text;
  }
  // Given up: this helper finishes the read on its own and then ends.
  helper_->stop = true;
  hold.unlock();
  stalled_.emplace(file, std::move(helper_));
  helper_.reset();
  if (on_stall_) {
    on_stall_(file.string() + " did not answer within " + std::to_string(deadline_.count()) +
              " ms; left out until it does");
  }
  return std::nullopt;
}

std::optional<std::string> ReadAttributeFile(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(kMaxAttributeBytes, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return std::nullopt;
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}
