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

// One helper thread's mailbox: one round of reads at a time. It says when
// the round is done, not after each read, so that a round costs the reading
// thread one wake-up; the count of reads done shows its progress.
struct AttributeReader::Helper {
  std::mutex mutex;
  std::condition_variable changed;
  Jobs jobs;                      // the round's jobs
  std::vector<std::size_t> todo;  // which of them to run, in order
  std::vector<std::optional<std::string>> results;
  bool finished = false;
  bool busy = false;  // a read is under way
  bool stop = false;

  static void Run(std::shared_ptr<Helper> self) {
    std::unique_lock<std::mutex> hold(self->mutex);
    for (;;) {
      self->changed.wait(hold, [&] { return self->stop || !self->todo.empty(); });
      if (self->todo.empty()) return;
      const Jobs jobs = self->jobs;
      const std::vector<std::size_t> todo = std::move(self->todo);
      self->todo.clear();
      for (std::size_t index : todo) {
        self->busy = true;
        hold.unlock();
        std::optional<std::string> text;
        try {
          text = (*jobs)[index].read();
        } catch (...) {
          // An unreadable file, as far as the readings go.
        }
        hold.lock();
        self->busy = false;
        if (self->stop) return;  // given up on: the round went on without it
        self->results.push_back(std::move(text));
      }
      self->finished = true;
      self->changed.notify_all();
    }
  }
};

AttributeReader::AttributeReader(std::chrono::milliseconds deadline, ReadFunction read,
                                 StallReport on_stall)
    : deadline_(deadline), read_(std::move(read)), on_stall_(std::move(on_stall)) {}

AttributeReader::~AttributeReader() {
  for (auto& [name, helper] : stalled_) {
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
    std::thread(Helper::Run, helper).detach();
  } catch (const std::system_error&) {
    return nullptr;  // no thread: reads then run on the caller's
  }
  return helper;
}

bool AttributeReader::NoLongerStalled(const std::string& name) {
  auto found = stalled_.find(name);
  if (found == stalled_.end()) return true;
  {
    std::lock_guard<std::mutex> hold(found->second->mutex);
    if (found->second->busy) return false;  // still stuck
  }
  stalled_.erase(found);
  if (on_stall_) on_stall_(name + " answers again");
  return true;
}

std::optional<std::string> AttributeReader::Read(const std::filesystem::path& file) {
  auto one = std::make_shared<std::vector<Job>>();
  one->push_back({file.string(), [read = read_, file] { return read(file); }});
  return std::move(ReadAll(one)[0]);
}

std::vector<std::optional<std::string>> AttributeReader::ReadAll(const Jobs& jobs) {
  std::vector<std::optional<std::string>> results(jobs->size());
  std::vector<std::size_t> todo;  // the jobs to run, by index
  for (std::size_t i = 0; i < jobs->size(); ++i) {
    if (NoLongerStalled((*jobs)[i].name)) todo.push_back(i);
  }
  std::size_t next = 0;
  while (next < todo.size()) {
    if (helper_ == nullptr) helper_ = StartHelper();
    if (helper_ == nullptr) {
      for (; next < todo.size(); ++next) results[todo[next]] = (*jobs)[todo[next]].read();
      break;
    }
    std::unique_lock<std::mutex> hold(helper_->mutex);
    helper_->jobs = jobs;
    helper_->todo.assign(todo.begin() + static_cast<std::ptrdiff_t>(next), todo.end());
    helper_->results.clear();
    helper_->finished = false;
    helper_->changed.notify_all();
    // Waits while the round makes progress: a read may take the deadline.
    std::size_t seen = 0;
    while (!helper_->changed.wait_for(hold, deadline_, [&] { return helper_->finished; }) &&
           helper_->results.size() > seen) {
      seen = helper_->results.size();
    }
    for (std::size_t k = 0; k < helper_->results.size(); ++k) {
      results[todo[next + k]] = std::move(helper_->results[k]);
    }
    if (helper_->finished) break;
    // Given up: this helper finishes the stuck read on its own and then ends.
    const std::size_t stuck = todo[next + helper_->results.size()];
    next += helper_->results.size() + 1;
    helper_->stop = true;
    hold.unlock();
    stalled_.emplace((*jobs)[stuck].name, std::move(helper_));
    helper_.reset();
    if (on_stall_) {
      on_stall_((*jobs)[stuck].name + " did not answer within " +
                std::to_string(deadline_.count()) + " ms; left out until it does");
    }
  }
  return results;
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
