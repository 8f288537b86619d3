// SPDX-License-Identifier: MIT
// The light or dark scheme: the system's until the toggle picks one, which is then remembered.
const KEY = "kvx-studio-scheme";
const root = document.documentElement;
const systemDark = () => matchMedia("(prefers-color-scheme: dark)").matches;
const current = () => root.dataset.scheme ?? (systemDark() ? "dark" : "light");

export function wireScheme(button, onChange) {
  const saved = localStorage.getItem(KEY);
  if (saved === "light" || saved === "dark") root.dataset.scheme = saved;
  const label = () => {
    // A toggle with one name: pressed means dark.
    button.setAttribute("aria-pressed", String(current() === "dark"));
  };
  label();
  button.addEventListener("click", () => {
    root.dataset.scheme = current() === "dark" ? "light" : "dark";
    localStorage.setItem(KEY, root.dataset.scheme);
    label();
    onChange();
  });
  matchMedia("(prefers-color-scheme: dark)").addEventListener("change", () => { label(); onChange(); });
}
