// Localized texts from the bundle's language files, English filling every key the language lacks.

async function readTable(url) {
  try {
    const response = await fetch(url);
    if (!response.ok) return {};
    const document = await response.json();
    const table = document?.Localization;
    return table !== null && typeof table === 'object' && !Array.isArray(table) ? table : {};
  } catch {
    return {};
  }
}

export function languageOf(info) {
  const lang = info?.application?.language;
  return typeof lang === 'string' && /^[a-z]{2,3}(-[A-Za-z0-9]{2,8})?$/.test(lang) ? lang : 'en';
}

// folderUrl: the bundle folder holding <lang>.json. Returns t(key, vars) where "{name}" in a text is replaced
// by vars.name; an unknown key shows as itself.
export async function loadTexts(folderUrl, lang) {
  const file = (code) => readTable(new URL(`${code}.json`, folderUrl));
  const [english, own] = await Promise.all([file('en'), lang === 'en' ? {} : file(lang)]);
  const table = { ...english };
  for (const [key, text] of Object.entries(own)) if (typeof text === 'string') table[key] = text;
  return (key, vars = {}) => {
    const text = typeof table[key] === 'string' ? table[key] : key;
    return text.replace(/\{(\w+)\}/g, (whole, name) => (name in vars ? String(vars[name]) : whole));
  };
}
