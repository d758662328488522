// Data sources and data links: how the controls and other data sets watching a data set hear of it.
#include "storage/DataSet.h"

#include <algorithm>

// ---------------------------------------------------------------- links and sources

TDataLink::~TDataLink() { SetDataSource(nullptr); }

void TDataLink::SetDataSource(TDataSource *source) {
    if (source == source_) return;
    if (source_) source_->RemoveLink(this);
    if (source) source->AddLink(this);
    ActiveChanged();
}

TDataSet *TDataLink::DataSet() const { return source_ ? source_->DataSet() : nullptr; }

bool TDataLink::Active() const {
    return source_ && source_->Enabled() && source_->DataSet() && source_->DataSet()->Active();
}

TDataSource::~TDataSource() {
    SetDataSet(nullptr);
    for (TDataLink *link : links_) link->source_ = nullptr;
}

void TDataSource::SetDataSet(TDataSet *dataSet) {
    if (dataSet == dataSet_) return;
    if (dataSet_) dataSet_->RemoveDataSource(this);
    dataSet_ = dataSet;
    if (dataSet_) dataSet_->AddDataSource(this);
    NotifyActive();
}

void TDataSource::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    NotifyActive();
}

TDataSetState TDataSource::State() const {
    return (dataSet_ && enabled_) ? dataSet_->State() : dsInactive;
}

void TDataSource::AddLink(TDataLink *link) {
    links_.push_back(link);
    link->source_ = this;
}

void TDataSource::RemoveLink(TDataLink *link) {
    links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
    link->source_ = nullptr;
}

void TDataSource::NotifyActive() {
    const TDataSetState s = State();
    lastActive_ = s != dsInactive && s != dsOpening;
    const auto links = links_;
    for (TDataLink *link : links)
        if (std::find(links_.begin(), links_.end(), link) != links_.end()) link->ActiveChanged();
    if (OnStateChange) OnStateChange(this);
}

void TDataSource::DataEvent(TDataEvent event, TField *field, int info) {
    if (!enabled_) return;
    const auto links = links_;
    auto each = [&](auto &&call) {
        for (TDataLink *link : links)
            if (std::find(links_.begin(), links_.end(), link) != links_.end()) call(link);
    };
    switch (event) {
    case deUpdateState: {
        const TDataSetState s = State();
        const bool nowActive = s != dsInactive && s != dsOpening;
        if (nowActive != lastActive_) {
            lastActive_ = nowActive;
            each([](TDataLink *l) { l->ActiveChanged(); });
        } else {
            each([](TDataLink *l) { l->EditingChanged(); });
        }
        if (OnStateChange) OnStateChange(this);
        break;
    }
    case deFieldChange:
    case deRecordChange:
        each([&](TDataLink *l) { l->RecordChanged(field); });
        if (OnDataChange) OnDataChange(this, field);
        break;
    case deDataSetChange:
        each([](TDataLink *l) { l->DataSetChanged(); });
        if (OnDataChange) OnDataChange(this, nullptr);
        break;
    case deDataSetScroll:
        each([&](TDataLink *l) { l->DataSetScrolled(info); });
        if (OnDataChange) OnDataChange(this, nullptr);
        break;
    case deLayoutChange:
        each([](TDataLink *l) { l->LayoutChanged(); });
        if (OnDataChange) OnDataChange(this, nullptr);
        break;
    case deUpdateRecord:
        each([](TDataLink *l) { l->UpdateData(); });
        if (OnUpdateData) OnUpdateData(this);
        break;
    }
}
