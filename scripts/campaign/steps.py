"""The steps of a random round trip. A fault is None or a rule of the vendor's simulated
driver (SIM_NVAPI_FAULTS, SIM_ADLX_FAULTS); a setting and its value are the vendor's own
(an NVIDIA id and value, or MISSING; an AMD ref and number)."""
from dataclasses import dataclass
from typing import Any, Optional


@dataclass(frozen=True)
class Apply:
    preset: str
    fault: Optional[str] = None

    def args(self):
        return ["apply", self.preset, "BACKUP"]


@dataclass(frozen=True)
class Restore:
    fault: Optional[str] = None

    def args(self):
        return ["restore", "BACKUP"]


@dataclass(frozen=True)
class UserChange:
    """The user changes one setting in the driver's panel."""
    setting: Any
    value: Any


def describe(step, vendor):
    if isinstance(step, Apply):
        return "apply %s%s" % (step.preset, " with %s" % step.fault if step.fault else "")
    if isinstance(step, Restore):
        return "restore%s" % (" with %s" % step.fault if step.fault else "")
    return "user sets " + vendor.describe_change(step.setting, step.value)
