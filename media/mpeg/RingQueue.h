#pragma once
// A first-in first-out queue on one growing array: once it has reached the size a stream needs,
// pushing and popping allocate nothing (std::deque allocates and frees blocks as it goes).

#include <cstddef>
#include <utility>
#include <vector>

namespace mpeg {

template <typename T>
class CRingQueue {
public:
    bool empty() const { return size_ == 0; }
    size_t size() const { return size_; }
    T& operator[](size_t index) { return items_[(head_ + index) % items_.size()]; }
    const T& operator[](size_t index) const { return items_[(head_ + index) % items_.size()]; }
    T& front() { return (*this)[0]; }
    const T& front() const { return (*this)[0]; }
    T& back() { return (*this)[size_ - 1]; }
    const T& back() const { return (*this)[size_ - 1]; }

    void push_back(const T& item)
    {
        if (size_ == items_.size())
            Grow();
        items_[(head_ + size_) % items_.size()] = item;
        ++size_;
    }
    void pop_front()
    {
        head_ = (head_ + 1) % items_.size();
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
        head_ = 0;
    }

    std::vector<T> items_;
    size_t head_ = 0;
    size_t size_ = 0;
};

} // namespace mpeg
