// Typed parameters of remote methods, and the quoting that lets a text travel as one word
// among several arguments.
//
// A method's argument text is split into words (rcParam::Array) and each word is converted
// into a typed parameter; a method's typed result is turned back into text with
// stringValue(). Conversions never fail: a word that is not a number gives 0, a word that is
// not a true-word gives false, a missing word leaves the default.
//
// Threads: parameter objects are plain values; the TYPE objects are immutable and shared.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace Vantrel {

class rcParam {
public:
    // The type of a parameter: makes default-valued parameters of that type. Each concrete
    // type exists once, as the static TYPE of its parameter class.
    class Type {
    public:
        virtual ~Type();
        // A new parameter of this type with its default value, owned by the caller.
        virtual rcParam* alloc() const = 0;
        virtual const char* name() const = 0;
    };

    // One entry of a method's parameter list. A list is an array of entries ended by an entry
    // whose type is null.
    struct Info {
        const Type* type;
        const char* name;  // for documentation only
    };

    // The parameters of one call, made from a parameter list and an argument text. Owns them.
    class Array {
    public:
        Array();
        // One parameter per list entry, in order, filled from `args`:
        //  - null `args` or an empty list: all parameters keep their defaults;
        //  - a list of one entry: that parameter gets the whole text, unsplit;
        //  - otherwise the text is split into words at spaces outside double quotes. A double
        //    quote toggles the quoted state and is dropped, unless an odd number of
        //    backslashes stands right before it: then it is copied, with its backslashes.
        //    Two spaces in a row give an empty word; the end of the text ends the last word;
        //    words beyond the list are ignored; parameters without a word keep defaults.
        Array(const Info* list, const char* args);
        Array(const Array&) = delete;
        Array& operator=(const Array&) = delete;
        virtual ~Array();

        int size() const { return static_cast<int>(params_.size()); }
        // The parameter at `index` (0 <= index < size()).
        rcParam* operator[](int index) const;

    private:
        void split(const char* args);
        std::vector<rcParam*> params_;
    };

    rcParam() = default;
    rcParam(const rcParam&) = default;
    rcParam& operator=(const rcParam&) = default;
    virtual ~rcParam();

    // In the base class the setters do nothing and the getters give 0, false or "";
    // setStringValue(std::string) passes the text on to setStringValue(const char*).
    virtual void setIntValue(int value);
    virtual void setLongValue(long value);
    virtual void setFloatValue(float value);
    virtual void setStringValue(const std::string& value);
    virtual void setStringValue(const char* value);
    virtual void setBoolValue(bool value);
    virtual int intValue() const;
    virtual long longValue() const;
    virtual float floatValue() const;
    virtual std::string stringValue();
    virtual bool boolValue() const;
    // For large texts: setStringValue and stringValue that may move the text instead of
    // copying it. The value read by takeStringValue is unspecified afterwards. By default
    // they copy, as the plain forms do.
    virtual void takeStringValue(std::string&& value) { setStringValue(value); }
    virtual std::string releaseStringValue() { return stringValue(); }
};

// No value: text in is ignored, text out is empty.
class rcParamVoid : public rcParam {
public:
    class VoidType : public rcParam::Type {
    public:
        rcParam* alloc() const override;
        const char* name() const override;  // "void"
    };
    static const VoidType TYPE;
};

class rcParamInt : public rcParam {
public:
    class IntType : public rcParam::Type {
    public:
        rcParam* alloc() const override;
        const char* name() const override;  // "int"
    };
    static const IntType TYPE;

    explicit rcParamInt(int value = 0) : value_(value) {}
    using rcParam::setStringValue;
    void setIntValue(int value) override { value_ = value; }
    int intValue() const override { return value_; }
    // Leading sign and decimal digits, as atoi, saturated to the int range; 0 if none.
    void setStringValue(const char* value) override;
    std::string stringValue() override;  // "%d"

private:
    int value_;
};

class rcParamLong : public rcParam {
public:
    class LongType : public rcParam::Type {
    public:
        rcParam* alloc() const override;
        const char* name() const override;  // "long"
    };
    static const LongType TYPE;

    explicit rcParamLong(long value = 0) : value_(value) {}
    using rcParam::setStringValue;
    void setLongValue(long value) override { value_ = value; }
    long longValue() const override { return value_; }
    // As atol, saturated to the long range.
    void setStringValue(const char* value) override;
    std::string stringValue() override;  // "%ld"

private:
    long value_;
};

class rcParamFloat : public rcParam {
public:
    class FloatType : public rcParam::Type {
    public:
        rcParam* alloc() const override;
        const char* name() const override;  // "float"
    };
    static const FloatType TYPE;

    explicit rcParamFloat(float value = 0) : value_(value) {}
    using rcParam::setStringValue;
    void setFloatValue(float value) override { value_ = value; }
    float floatValue() const override { return value_; }
    // As atof; a number beyond the float range becomes an infinity of its sign.
    void setStringValue(const char* value) override;
    std::string stringValue() override;  // "%f": six decimals

private:
    float value_;
};

class rcParamBool : public rcParam {
public:
    class BoolType : public rcParam::Type {
    public:
        rcParam* alloc() const override;
        const char* name() const override;  // "bool"
    };
    static const BoolType TYPE;

    explicit rcParamBool(bool value = false) : value_(value) {}
    using rcParam::setStringValue;
    void setBoolValue(bool value) override { value_ = value; }
    bool boolValue() const override { return value_; }
    // The boolean word rule (rcStringToBool).
    void setStringValue(const char* value) override;
    std::string stringValue() override;  // "true" or "false"

private:
    bool value_;
};

class rcParamString : public rcParam {
public:
    class StringType : public rcParam::Type {
    public:
        rcParam* alloc() const override;
        const char* name() const override;  // "const char *"
    };
    static const StringType TYPE;

    explicit rcParamString(const std::string& value = std::string()) : value_(value) {}
    // Both keep the text unchanged (null counts as empty).
    void setStringValue(const std::string& value) override { value_ = value; }
    void setStringValue(const char* value) override;
    std::string stringValue() override { return value_; }
    void takeStringValue(std::string&& value) override { value_ = std::move(value); }
    std::string releaseStringValue() override { return std::move(value_); }

private:
    std::string value_;
};

// Quotes a text so that it travels as one word: a double quote, the text with a backslash put
// before every double quote and every backslash, a double quote. Null gives the empty text.
class rcParamStringToEscapedString {
public:
    explicit rcParamStringToEscapedString(const char* text);
    const char* getEscapedString() const { return escaped_.c_str(); }

private:
    std::string escaped_;
};

// Undoes the quoting: a double quote at the first or last position is dropped; a backslash is
// dropped and the byte after it copied whatever it is (a backslash at the very end ends the
// text); other bytes are copied. Null gives the empty text. Applied to a word that was quoted
// and then split out of an argument text (outer quotes already gone), it gives back the
// original text.
class rcParamEscapedStringToString {
public:
    explicit rcParamEscapedStringToString(const char* text);
    const char* getString() const { return text_.c_str(); }

private:
    std::string text_;
};

}  // namespace Vantrel
