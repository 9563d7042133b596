#include "builtin/CaptionFile.h"

#include "media/captions/SubRip.h"

void CCaptionFile::Start()
{
    file_.Reset();
    failed_ = false;
    cues_ = 0;
    timeLineKnown_ = false;
    offset_ = zero_ = 0;
    waiting_.clear();
}

void CCaptionFile::SetTimeLine(int64_t offset, int64_t zero)
{
    offset_ = offset;
    zero_ = zero;
    timeLineKnown_ = true;
    for (const WaitingCue& cue : waiting_)
        Write(cue.start, cue.end, cue.text.data(), cue.text.size());
    waiting_.clear();
}

void CCaptionFile::OnCue(int64_t start, int64_t end, const char* text, size_t size)
{
    if (!Wanted() || failed_)
        return;
    if (timeLineKnown_) {
        Write(start, end, text, size);
    } else if (waiting_.size() < MaxWaiting) {
        waiting_.push_back({start, end, std::string(text, size)});
    }
}

void CCaptionFile::Finish()
{
    if (!timeLineKnown_)
        SetTimeLine(0, waiting_.empty() ? 0 : waiting_.front().start);
    file_.Reset();
}

void CCaptionFile::Write(int64_t start, int64_t end, const char* text, size_t size)
{
    if (failed_)
        return;
    char cue[captions::MaxSubRipCue];
    const int64_t from = (start + offset_ - zero_) / 90, to = (end + offset_ - zero_) / 90;
    const size_t length = captions::FormatSubRipCue(cues_ + 1, from, to, text, size, cue, sizeof(cue));
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
