export async function showImport(main) { main.textContent = 'Import'; }
