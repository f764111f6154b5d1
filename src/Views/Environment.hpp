#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>

namespace stashbay {

// The objects a view tree reads by type, placed there by the scene.
class Environment {
public:
    template <class T>
    void setObject(std::shared_ptr<T> object) {
        objects_[std::type_index(typeid(T))] = std::move(object);
    }

    // The object of type T; a view that requires one the scene did not place is a programming
    // error, reported as std::logic_error.
    template <class T>
    std::shared_ptr<T> object() const {
        auto it = objects_.find(std::type_index(typeid(T)));
        if (it == objects_.end() || !it->second)
            throw std::logic_error(std::string("no environment object of type ") + typeid(T).name());
        return std::static_pointer_cast<T>(it->second);
    }

private:
    std::unordered_map<std::type_index, std::shared_ptr<void>> objects_;
};

}  // namespace stashbay
