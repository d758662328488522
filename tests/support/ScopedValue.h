#pragma once
// Gives a variable (a tuning knob of the code under test) a value for one scope and puts
// the old one back.
namespace orbtest {

template <class T>
class ScopedValue {
public:
    ScopedValue(T &variable, T value) : variable_(variable), old_(variable) { variable_ = value; }
    ~ScopedValue() { variable_ = old_; }
    ScopedValue(const ScopedValue &) = delete;
    ScopedValue &operator=(const ScopedValue &) = delete;

private:
    T &variable_;
    T old_;
};

} // namespace orbtest
