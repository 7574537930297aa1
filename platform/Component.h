#pragma once

#include <atomic>
#include <vector>

// The root of every object that can be the sender of an event.
class TObject {
public:
    virtual ~TObject() = default;
};

// A component has an owner, and an owner frees the components it owns when it is
// itself freed. Components are freed with Free() (never with delete), so that work
// that must run while the whole object still exists (closing a device) runs in
// BeforeDestruction(), where virtual calls still reach the most derived class.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent *AOwner);
    TComponent(const TComponent &) = delete;
    TComponent &operator=(const TComponent &) = delete;

    TComponent *Owner() const { return FOwner; }
    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent *Components(int Index) const { return FComponents.at(Index); }

    // True from the moment this component, or an owner of it, begins to be freed. Any
    // thread may ask (a device's callback thread does, while another thread frees it).
    bool Destroying() const { return FDestroying; }

    // Marks the component and all it owns as being destroyed, runs
    // BeforeDestruction(), then destroys it.
    void Free();

protected:
    ~TComponent() override;

    // Runs once, with the object whole and already marked as being destroyed.
    virtual void BeforeDestruction() {}

private:
    void MarkDestroying();
    void InsertComponent(TComponent *AComponent);
    void RemoveComponent(TComponent *AComponent);

    TComponent *FOwner = nullptr;
    std::vector<TComponent *> FComponents;
    std::atomic<bool> FDestroying = false;
};

// Frees the component and clears the pointer, like the class library's FreeAndNil.
template <typename T> void FreeAndNil(T *&Component) {
    T *Doomed = Component;
    Component = nullptr;
    if (Doomed)
        Doomed->Free();
}
