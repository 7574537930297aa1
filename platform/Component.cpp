#include "platform/Component.h"

#include <algorithm>

TComponent::TComponent(TComponent *AOwner) {
    if (AOwner)
        AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    // Owned components go last-created first, each whole when it is freed.
    while (!FComponents.empty())
        FComponents.back()->Free();
    if (FOwner)
        FOwner->RemoveComponent(this);
}

void TComponent::Free() {
    if (!FDestroying)
        MarkDestroying();
    BeforeDestruction();
    delete this;
}

void TComponent::MarkDestroying() {
    FDestroying = true;
    for (TComponent *Owned : FComponents)
        Owned->MarkDestroying();
}

void TComponent::InsertComponent(TComponent *AComponent) {
    FComponents.push_back(AComponent);
    AComponent->FOwner = this;
}

void TComponent::RemoveComponent(TComponent *AComponent) {
    FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), AComponent),
                      FComponents.end());
    AComponent->FOwner = nullptr;
}
