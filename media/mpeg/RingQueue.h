#pragma once
// A first-in first-out queue on one growing array: once it has reached the size a stream needs,
// pushing and popping allocate nothing (std::deque allocates and frees blocks as it goes). The
// array's size is a power of two, so that an index wraps with a mask: the multiplexer's planning
// reads these queues many times a packet, and a division on each read cost about a tenth of the
// conversion's own processor time.

#include <cstddef>
#include <utility>
#include <vector>

namespace mpeg {

template <typename T>
class CRingQueue {
public:
    bool empty() const { return size_ == 0; }
    size_t size() const { return size_; }
    T& operator[](size_t index) { return items_[(head_ + index) & mask_]; }
    const T& operator[](size_t index) const { return items_[(head_ + index) & mask_]; }
    T& front() { return (*this)[0]; }
    const T& front() const { return (*this)[0]; }
    T& back() { return (*this)[size_ - 1]; }
    const T& back() const { return (*this)[size_ - 1]; }

    void push_back(const T& item)
    {
        if (size_ == items_.size())
            Grow();
        items_[(head_ + size_) & mask_] = item;
        ++size_;
    }
    void pop_front()
    {
        head_ = (head_ + 1) & mask_;
        --size_;
    }
    void clear()
    {
        head_ = 0;
        size_ = 0;
    }
    // Iteration in queue order, for range-for.
    class Iterator {
    public:
        Iterator(const CRingQueue* queue, size_t index) : queue_(queue), index_(index) {}
        const T& operator*() const { return (*queue_)[index_]; }
        Iterator& operator++()
        {
            ++index_;
            return *this;
        }
        bool operator!=(const Iterator& other) const { return index_ != other.index_; }

    private:
        const CRingQueue* queue_;
        size_t index_;
    };
    Iterator begin() const { return Iterator(this, 0); }
    Iterator end() const { return Iterator(this, size_); }

private:
    void Grow()
    {
        std::vector<T> larger(items_.empty() ? 16 : items_.size() * 2);
        for (size_t i = 0; i < size_; ++i)
            larger[i] = std::move((*this)[i]);
        items_.swap(larger);
        mask_ = items_.size() - 1;
        head_ = 0;
    }

    std::vector<T> items_;
    size_t mask_ = 0; // items_.size() - 1
    size_t head_ = 0;
    size_t size_ = 0;
};

} // namespace mpeg
