#include "builtin/CaptionFile.h"

#include <cstdlib>

#include "media/captions/SubRip.h"

void CCaptionFile::Start()
{
    file_.Reset();
    failed_ = false;
    cues_ = 0;
    zeroKnown_ = false;
    zero_ = 0;
    jumps_.clear();
    applied_ = 0;
    shift_ = 0;
    waiting_.clear();
}

void CCaptionFile::SetZero(int64_t zero)
{
    zero_ = zero;
    zeroKnown_ = true;
}

void CCaptionFile::AddJump(const mpeg::ClosedJump& jump)
{
    jumps_.push_back(jump);
}

void CCaptionFile::OnCue(int64_t start, int64_t end, const char* text, size_t size)
{
    if (!Wanted() || failed_)
        return;
    if (waiting_.size() >= MaxWaiting) {
        // Before the first picture, cues past so many are not kept.
        if (!zeroKnown_)
            return;
        Write(waiting_.front());
        waiting_.pop_front();
    }
    waiting_.push_back({start, end, std::string(text, size)});
}

void CCaptionFile::Finish()
{
    if (!zeroKnown_)
        SetZero(waiting_.empty() ? 0 : waiting_.front().start);
    for (const WaitingCue& cue : waiting_)
        Write(cue);
    waiting_.clear();
    file_.Reset();
}

int64_t CCaptionFile::OutputTime(int64_t time)
{
    for (; applied_ < jumps_.size(); ++applied_) {
        const mpeg::ClosedJump& jump = jumps_[applied_];
        const int64_t before = jump.at - (jump.shift - shift_); // where the old times would have gone on
        if (std::llabs(time - jump.at) >= std::llabs(time - before))
            break;
        shift_ = jump.shift;
    }
    return time - shift_;
}

void CCaptionFile::Write(const WaitingCue& waiting)
{
    if (failed_)
        return;
    char cue[captions::MaxSubRipCue];
    const int64_t from = (OutputTime(waiting.start) - zero_) / 90, to = (OutputTime(waiting.end) - zero_) / 90;
    const size_t length = captions::FormatSubRipCue(cues_ + 1, from, to, waiting.text.data(), waiting.text.size(), cue, sizeof(cue));
    if (length == 0)
        return;
    if (!file_) {
        file_.Reset(::CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_) {
            failed_ = true;
            return;
        }
    }
    DWORD written = 0;
    if (!::WriteFile(file_.Get(), cue, static_cast<DWORD>(length), &written, nullptr) || written != length) {
        GiveUp();
        return;
    }
    ++cues_;
}

void CCaptionFile::GiveUp()
{
    failed_ = true;
    file_.Reset();
    ::DeleteFileW(path_.c_str());
}
