// A QSPI operation: an owned, ordered list of actions.
#ifndef VORN_QSPI_OPERATION_H
#define VORN_QSPI_OPERATION_H

#include "vorn_api.h"

#include "vorn_action.h"

class VORN_API VORN_QSPI_OPERATION : public VORN_OPERATION {
  public:
    explicit VORN_QSPI_OPERATION(VORN_OP_TYPE type);
    // Deep copy: the copy owns new actions and shares nothing with `other`.
    VORN_QSPI_OPERATION(const VORN_QSPI_OPERATION& other);
    VORN_QSPI_OPERATION& operator=(const VORN_QSPI_OPERATION&) = delete;
    ~VORN_QSPI_OPERATION() override;

    const std::vector<VORN_ACTION*>* get_action_list() const override;
    void clear_action_list() override;
    void add_action_into_list(VORN_ACTION* action) override;
};

#endif
